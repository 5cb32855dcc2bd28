#!/usr/bin/python3
"""A Modbus peer whose registers change while it is watched: pymodbus's
server with units 1 and 2, each with these holding registers (t: seconds
since the server started, taken once per request):

    0       uint16  counter: int(10 t) mod 65536
    1       int     int(50 t) mod 400 - 200 (negative half the time)
    2-3     float   20 + 5 sin(t), high word first
    4       uint16  2000 + int(10 t) mod 500
    10-11   uint32  time.time() in whole seconds, low word first

Every other register is unknown (exception 2); other units get no answer.
Every read it serves is logged to LOG, one line each:
    <time.time()> <unit> <first register> <value> [<value> ...]
usage: modbus_watch_server.py tcp LOG            (prints "READY <port>")
       modbus_watch_server.py rtu DEVICE LOG     (prints "READY")
"""
import asyncio
import logging
import math
import struct
import sys
import time

from pymodbus.datastore import ModbusServerContext, ModbusSlaveContext
from pymodbus.datastore.store import BaseModbusDataBlock
from pymodbus.server.async_io import ModbusTcpServer, StartAsyncSerialServer
from pymodbus.transaction import ModbusRtuFramer

START = time.monotonic()
KNOWN = {0, 1, 2, 3, 4, 10, 11}


def registers(t, now):
    sine = struct.unpack(">HH", struct.pack(">f", 20 + 5 * math.sin(t)))
    seconds = int(now) & 0xFFFFFFFF
    return {0: int(10 * t) & 0xFFFF,
            1: (int(50 * t) % 400 - 200) & 0xFFFF,
            2: sine[0], 3: sine[1],
            4: 2000 + int(10 * t) % 500,
            10: seconds & 0xFFFF, 11: seconds >> 16}


class ChangingBlock(BaseModbusDataBlock):
    """Holding registers computed at each read, and the log of what was served."""

    def __init__(self, unit, log):
        self.unit = unit
        self.log = log
        self.default_value = 0
        self.values = {}
        self.address = 0

    def validate(self, address, count=1):
        return count > 0 and all(a in KNOWN for a in range(address, address + count))

    def getValues(self, address, count=1):
        now = time.time()
        regs = registers(time.monotonic() - START, now)
        values = [regs[a] for a in range(address, address + count)]
        self.log.write("%.6f %d %d %s\n" % (now, self.unit, address, " ".join(map(str, values))))
        self.log.flush()
        return values

    def setValues(self, address, values):
        pass


def context(log):
    units = {}
    for unit in (1, 2):
        block = ChangingBlock(unit, log)
        units[unit] = ModbusSlaveContext(hr=block, zero_mode=True)
    return ModbusServerContext(slaves=units, single=False)


async def tcp(log):
    server = ModbusTcpServer(context(log), address=("127.0.0.1", 0), defer_start=True,
                             ignore_missing_slaves=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print("READY %d" % server.server.sockets[0].getsockname()[1], flush=True)
    await task


async def rtu(device, log):
    # The pseudo-terminal carries no parity: the server's end runs without.
    server = await StartAsyncSerialServer(
        context=context(log), framer=ModbusRtuFramer, port=device, baudrate=19200,
        bytesize=8, parity="N", stopbits=1, timeout=0.005,
        ignore_missing_slaves=True, defer_start=True)
    await server.start()
    if server.transport is None:
        print("FAILED to open " + device, flush=True)
        return 1
    print("READY", flush=True)
    await server.serve_forever()
    return 0


def main():
    logging.basicConfig(level=logging.CRITICAL)
    if len(sys.argv) == 3 and sys.argv[1] == "tcp":
        with open(sys.argv[2], "w") as log:
            asyncio.run(tcp(log))
    elif len(sys.argv) == 4 and sys.argv[1] == "rtu":
        with open(sys.argv[3], "w") as log:
            return asyncio.run(rtu(sys.argv[2], log))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
