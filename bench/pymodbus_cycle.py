#!/usr/bin/python3
"""The poll cycle's five block reads by pymodbus's client (RTU frames over TCP).

Reads the same blocks in the same order as the station, in a loop, for a given time,
and prints one JSON line: cycles, failed cycles, mean cycle time in milliseconds and
the process's CPU time per cycle. Run with Debian's interpreter (/usr/bin/python3):
that is where python3-pymodbus lives.
"""
import argparse
import json
import logging
import time

from pymodbus.client import ModbusTcpClient
from pymodbus.transaction import ModbusRtuFramer

# (start, count) in the station's order: display, weights, two setpoint blocks, readback.
BLOCKS = [(10, 4), (0, 8), (14, 6), (20, 3), (7, 3)]


def read_cycle(client):
    ok = True
    for start, count in BLOCKS:
        reply = client.read_holding_registers(start, count, slave=1)
        ok = ok and not reply.isError() and len(reply.registers) == count
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--seconds", type=float, default=3.0)
    args = parser.parse_args()
    logging.disable(logging.CRITICAL)

    client = ModbusTcpClient(args.host, port=args.port, framer=ModbusRtuFramer, timeout=2)
    if not client.connect():
        print(json.dumps({"error": "no connection"}))
        return 1
    read_cycle(client)  # warm up, as the other masters do
    cycles = failures = 0
    cpu0, t0 = time.process_time(), time.monotonic()
    while time.monotonic() - t0 < args.seconds or cycles == 0:
        if not read_cycle(client):
            failures += 1
        cycles += 1
    elapsed, cpu = time.monotonic() - t0, time.process_time() - cpu0
    client.close()
    print(json.dumps({
        "cycles": cycles,
        "failed_cycles": failures,
        "cycle_ms": 1000.0 * elapsed / cycles,
        "cpu_ms_per_cycle": 1000.0 * cpu / cycles,
    }))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
