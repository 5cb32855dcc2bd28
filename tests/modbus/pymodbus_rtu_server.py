"""Modbus RTU server of a third-party stack, a peer for the master's tests.

usage: pymodbus_rtu_server.py PORT UNIT BAUD
Holding registers 0..99 hold 0x0100 + n; discrete inputs 0..15 hold the bits
of 0x2C0D (input 0 = bit 0). Addresses are used as sent (no offset).
Prints "READY" once the port is open.
"""
import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import StartAsyncSerialServer
from pymodbus.transaction import ModbusRtuFramer


async def main(port, unit, baud):
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [(0x2C0D >> k) & 1 for k in range(16)]),
        co=ModbusSequentialDataBlock(0, [0] * 16),
        hr=ModbusSequentialDataBlock(0, [0x0100 + n for n in range(100)]),
        ir=ModbusSequentialDataBlock(0, [0] * 16),
        zero_mode=True,
    )
    context = ModbusServerContext(slaves={unit: store}, single=False)
    # The pseudo-terminal carries no parity: the server's end runs without.
    server = await StartAsyncSerialServer(
        context=context, framer=ModbusRtuFramer, port=port, baudrate=baud,
        bytesize=8, parity="N", stopbits=1, timeout=0.005,
        ignore_missing_slaves=True, defer_start=True)
    await server.start()
    if server.transport is None:
        print("FAILED to open " + port, flush=True)
        return 1
    print("READY", flush=True)
    await server.serve_forever()
    return 0


if __name__ == "__main__":
    logging.basicConfig(level=logging.ERROR)
    sys.exit(asyncio.run(main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))))
