#!/usr/bin/python3
"""A Modbus TCP gateway for the tests: pymodbus's TCP server on
127.0.0.1:PORT with units 1 and 2 (holding registers 0..99 = 0x0100 + n,
unit 2 also the comm registers 120..122 = 4, 0, 2). Other units get no answer.
Runs until it is stopped."""
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartTcpServer


def unit(extra):
    values = [0x0100 + n for n in range(100)] + [0] * 20 + extra
    # Sequential blocks are addressed from 1 inside pymodbus: start at 1 so
    # that register 0 on the wire is the first value.
    return ModbusSlaveContext(hr=ModbusSequentialDataBlock(1, values), zero_mode=False)


def main():
    port = int(sys.argv[1])
    context = ModbusServerContext(slaves={1: unit([]), 2: unit([4, 0, 2])}, single=False)
    StartTcpServer(context=context, address=("127.0.0.1", port), ignore_missing_slaves=True)


if __name__ == "__main__":
    main()
