"""An independent Modbus slave for the link tests: pymodbus speaking RTU frames
(with CRC, no MBAP header) over TCP on a free loopback port.

Prints the port on the first line, then serves until its standard input closes.
An optional argument names the port (a slave brought back at the same address).
Holding register k holds (0x0101 * k + 0x1234) & 0xFFFF for k in 0..99, slave 1.
With --log-writes every register a master writes is printed as a line
"write FUNCTION ADDRESS VALUE", in the order the writes arrive.
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


class LoggingSlave(ModbusSlaveContext):
    """Reports each write as it lands, whatever the function that carried it."""

    def setValues(self, fc_as_hex, address, values):
        super().setValues(fc_as_hex, address, values)
        for offset, value in enumerate(values):
            print(f"write {fc_as_hex} {address + offset} {value}", flush=True)


async def main():
    ports = [a for a in sys.argv[1:] if a.isdigit()]
    port = int(ports[0]) if ports else 0
    block = ModbusSequentialDataBlock(0, [register_value(k) for k in range(100)])
    # zero_mode: address 0 on the wire is the first value, not the second.
    slave_class = LoggingSlave if "--log-writes" in sys.argv[1:] else ModbusSlaveContext
    slave = slave_class(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: slave}, single=False)
    server = ModbusTcpServer(context, framer=ModbusRtuFramer,
                             address=("127.0.0.1", port), allow_reuse_address=True)
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    serving.cancel()


if __name__ == "__main__":
    asyncio.run(main())
