"""An independent Modbus slave for the link tests: pymodbus speaking RTU frames
(with CRC, no MBAP header) over TCP on a free loopback port.

Prints the port on the first line, then serves until its standard input closes.
Holding register k holds (0x0101 * k + 0x1234) & 0xFFFF for k in 0..99, slave 1.
Run it with Debian's /usr/bin/python3 (pymodbus 3.0).
"""
import asyncio
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusTcpServer
from pymodbus.transaction import ModbusRtuFramer


def register_value(k):
    return (0x0101 * k + 0x1234) & 0xFFFF


async def main():
    block = ModbusSequentialDataBlock(0, [register_value(k) for k in range(100)])
    # zero_mode: address 0 on the wire is the first value, not the second.
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: slave}, single=False)
    server = ModbusTcpServer(context, framer=ModbusRtuFramer,
                             address=("127.0.0.1", 0), allow_reuse_address=True)
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    serving.cancel()


if __name__ == "__main__":
    asyncio.run(main())
