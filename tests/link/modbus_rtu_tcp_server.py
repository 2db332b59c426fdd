"""An independent Modbus slave for the link tests: pymodbus speaking RTU frames
(with CRC, no MBAP header) over TCP on a free loopback port.

Prints the port on the first line, then serves until its standard input closes.
An optional argument names the port (a slave brought back at the same address).
Holding register k holds (0x0101 * k + 0x1234) & 0xFFFF for k in 0..99, slave 1.
With --log-writes every register a master writes is printed as a line
"write FUNCTION ADDRESS VALUE", in the order the writes arrive.
With --late-reads N,M,... the N-th, M-th... read (counting from 1) is answered 2.1 s
late, holding up everything after it, as a module busy with something else would.
With --refuse-writes CODE every register write is answered with that exception code
(pymodbus's own exception reply) and printed as "refused 6 ADDRESS VALUE".
With --serial PATH it serves RTU on that serial device (9600 8N1) instead, and prints
"ready" once it does.
With --ids 1,2,3 it serves those addresses on the one listener or line, each a slave of
its own whose registers are those above plus 0x0F00 per address after the first; its
logged writes then start with the address ("2: write 6 20 4464").
A line "silent N" on its standard input switches address N off (its requests get no
reply at all, as from a module that is off) and prints "silent N"; "answer N" switches
it on again and prints "answer N".
Run it with Debian's /usr/bin/python3 (pymodbus 3.0).
"""
import asyncio
import sys
import time

from pymodbus.exceptions import NoSuchSlaveException
from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.register_write_message import WriteSingleRegisterRequest
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer
from pymodbus.transaction import ModbusRtuFramer


def register_value(k, offset=0):
    return (0x0101 * k + 0x1234 + offset) & 0xFFFF


def option(name):
    args = sys.argv[1:]
    return args[args.index(name) + 1] if name in args else None


class LoggingSlave(ModbusSlaveContext):
    """Reports each write as it lands, whatever the function that carried it."""

    def __init__(self, prefix="", **kwargs):
        super().__init__(**kwargs)
        self.prefix = prefix

    def setValues(self, fc_as_hex, address, values):
        super().setValues(fc_as_hex, address, values)
        for offset, value in enumerate(values):
            print(f"{self.prefix}write {fc_as_hex} {address + offset} {value}", flush=True)


class LateSlave(ModbusSlaveContext):
    """Answers the chosen reads 2.1 s late; the sleep holds up the whole server."""

    def __init__(self, late, **kwargs):
        super().__init__(**kwargs)
        self.late = late
        self.reads = 0

    def getValues(self, fc_as_hex, address, count=1):
        if fc_as_hex == 3:
            self.reads += 1
            if self.reads in self.late:
                time.sleep(2.1)
        return super().getValues(fc_as_hex, address, count)


class SwitchedContext(ModbusServerContext):
    """The line's slaves, some of them switched off: a request to one finds no slave."""

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.off = set()

    def __getitem__(self, slave):
        if slave in self.off:
            raise NoSuchSlaveException(f"slave {slave} is switched off")
        return super().__getitem__(slave)


def refuse_writes(code):
    def execute(request, _context):
        print(f"refused 6 {request.address} {request.value}", flush=True)
        return request.doException(code)
    WriteSingleRegisterRequest.execute = execute


async def obey_stdin(server, context):
    """Switches addresses off and on as told, until standard input closes."""
    loop = asyncio.get_running_loop()
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            return
        words = line.split()
        if len(words) != 2 or words[0] not in ("silent", "answer") or not words[1].isdigit():
            continue
        # A slave that is not there gets no reply, not pymodbus's gateway exception.
        server.ignore_missing_slaves = True
        (context.off.add if words[0] == "silent" else context.off.discard)(int(words[1]))
        print(line.strip(), flush=True)


async def main():
    if option("--refuse-writes"):
        refuse_writes(int(option("--refuse-writes")))
    ports = [a for a in sys.argv[1:]
             if a.isdigit() and a not in (option("--late-reads"), option("--refuse-writes"),
                                          option("--ids"))]
    port = int(ports[0]) if ports else 0
    ids = [int(n) for n in option("--ids").split(",")] if option("--ids") else [1]
    slaves = {}
    for number, slave_id in enumerate(ids):
        block = ModbusSequentialDataBlock(
            0, [register_value(k, 0x0F00 * number) for k in range(100)])
        # zero_mode: address 0 on the wire is the first value, not the second.
        late = option("--late-reads")
        if late:
            slave = LateSlave({int(n) for n in late.split(",")}, hr=block, zero_mode=True)
        elif "--log-writes" in sys.argv[1:]:
            prefix = f"{slave_id}: " if option("--ids") else ""
            slave = LoggingSlave(prefix, hr=block, zero_mode=True)
        else:
            slave = ModbusSlaveContext(hr=block, zero_mode=True)
        slaves[slave_id] = slave
    context = SwitchedContext(slaves=slaves, single=False)
    device = option("--serial")
    if device:
        server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=device,
                                    baudrate=9600)
        await server.start()
        serving = asyncio.create_task(asyncio.sleep(float("inf")))
        print("ready", flush=True)
    else:
        server = ModbusTcpServer(context, framer=ModbusRtuFramer,
                                 address=("127.0.0.1", port), allow_reuse_address=True)
        serving = asyncio.create_task(server.serve_forever())
        await server.serving
        print(server.server.sockets[0].getsockname()[1], flush=True)
    await obey_stdin(server, context)
    serving.cancel()


if __name__ == "__main__":
    asyncio.run(main())
