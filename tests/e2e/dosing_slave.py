"""An independent dosing module for the dosing record's tests: pymodbus speaking RTU
frames over TCP on a free loopback port, slave 1, one decimal.

Once a first line comes on standard input (the station is up and reading zero), it
plays the cycles given as arguments, one after the other, on its own clock: each
cycle fills through the coarse and fine feeds, settles at its final weight (in display
steps) for 3 seconds, and empties. "A" is a cycle aborted at 450, well before the
fine cut-off; "H" fills to half and holds there until a line comes
on standard input, then settles at 1000. Setpoints: zero band 20, coarse 900, fine 990,
theoretical 1000. A first argument "--pause=S" makes every cycle that reaches its final
weight stand still at 991, above the fine cut-off, for S seconds across a whole second
of the clock on its way there: a pause a whole-second clock cannot tell from a settled
weight.

Prints the port on the first line, then "cycle N start" and "cycle N end" as it goes,
and "done" after the last cycle, then holds zero until its standard input closes.
Run it with Debian's /usr/bin/python3 (pymodbus 3.0).
"""
import asyncio
import sys
import time

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusTcpServer
from pymodbus.transaction import ModbusRtuFramer

ZERO_BAND, COARSE, FINE, TARGET = 20, 900, 990, 1000


def pair(value):
    value &= 0xFFFFFFFF
    return [value & 0xFFFF, value >> 16]


async def play(block, cycles, pause, stdin_lines):
    def net(value):
        # gross = net, tare 0, state and task 0.
        block.setValues(0, pair(value) + [0, 0] + pair(value))

    async def hold(value, seconds):
        net(value)
        await asyncio.sleep(seconds)

    net(0)
    await stdin_lines.get()
    for n, final in enumerate(cycles, 1):
        print(f"cycle {n} start", flush=True)
        for value in (150, 450):
            await hold(value, 0.2)
        if final == "H":
            net(TARGET // 2)
            await stdin_lines.get()
            final = str(TARGET)
        if final != "A":
            for value in (700, COARSE + 20, 975):
                await hold(value, 0.2)
            if pause > 0:
                # Centred on a second's edge, so the readings of the pause fall in two
                # different seconds.
                await asyncio.sleep((-pause / 2 - time.time()) % 1.0)
                await hold(FINE + 1, pause)
            await hold(int(final), 3.0)
        await hold(0, 1.0)
        print(f"cycle {n} end", flush=True)
    print("done", flush=True)


async def main():
    block = ModbusSequentialDataBlock(0, [0] * 30)
    block.setValues(14, pair(ZERO_BAND) + pair(COARSE) + pair(FINE) + pair(TARGET) + [0])
    context = ModbusServerContext(slaves={1: ModbusSlaveContext(hr=block, zero_mode=True)},
                                  single=False)
    server = ModbusTcpServer(context, framer=ModbusRtuFramer, address=("127.0.0.1", 0),
                             allow_reuse_address=True)
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)

    loop = asyncio.get_running_loop()
    stdin_lines = asyncio.Queue()
    cycles = sys.argv[1:]
    pause = 0.0
    if cycles and cycles[0].startswith("--pause="):
        pause = float(cycles.pop(0).split("=", 1)[1])
    playing = asyncio.create_task(play(block, cycles, pause, stdin_lines))
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            break
        await stdin_lines.put(line)
    playing.cancel()
    serving.cancel()


if __name__ == "__main__":
    asyncio.run(main())
