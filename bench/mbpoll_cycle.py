#!/usr/bin/python3
"""The poll cycle's five block reads by mbpoll (libmodbus, RTU over a pty).

mbpoll has no RTU over TCP, so it talks to the simulator's pty. Two figures, one JSON
line:
  process: one mbpoll process per block, five per cycle, as a shell script polling the
           module would do it; the cycle time includes five process start-ups.
  loop:    mbpoll polling one block in its own loop (-l 10, the shortest poll rate it
           takes); the period between two polls, less the 10 ms pause mbpoll sleeps
           after each poll, is its time per request. The five blocks' request times
           are added up to a cycle.
"""
import argparse
import json
import signal
import subprocess
import time

BLOCKS = [(10, 4), (0, 8), (14, 6), (20, 3), (7, 3)]
POLL_RATE_MS = 10


def command(device, baud, start, count):
    return ["mbpoll", "-m", "rtu", "-a", "1", "-b", str(baud), "-P", "none", "-0",
            "-r", str(start), "-c", str(count), "-o", "2", device]


def process_cycles(device, baud, seconds):
    cycles = failures = 0
    t0 = time.monotonic()
    while time.monotonic() - t0 < seconds or cycles == 0:
        ok = True
        for start, count in BLOCKS:
            r = subprocess.run(command(device, baud, start, count) + ["-1", "-q"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            ok = ok and r.returncode == 0
        cycles += 1
        failures += 0 if ok else 1
    return {"cycle_ms": 1000.0 * (time.monotonic() - t0) / cycles, "cycles": cycles,
            "failed_cycles": failures}


def loop_request_ms(device, baud, start, count, seconds):
    """Mean time per request of mbpoll's own polling loop on one block."""
    proc = subprocess.Popen(["stdbuf", "-oL"] + command(device, baud, start, count) +
                            ["-l", str(POLL_RATE_MS)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    marker = "[%d]:" % start
    stamps = []
    t0 = time.monotonic()
    for line in proc.stdout:
        if line.startswith(marker):
            stamps.append(time.monotonic())
            if stamps[-1] - t0 > seconds:
                break
    proc.send_signal(signal.SIGINT)
    proc.communicate(timeout=10)
    if len(stamps) < 3:
        return None
    period_ms = 1000.0 * (stamps[-1] - stamps[1]) / (len(stamps) - 2)
    return period_ms - POLL_RATE_MS


def main():
    p = argparse.ArgumentParser()
    p.add_argument("device")
    p.add_argument("--baud", type=int, default=9600)
    p.add_argument("--seconds", type=float, default=3.0)
    args = p.parse_args()
    # mbpoll only takes real line speeds; the pty ignores it, the simulator sets the pace.
    baud = args.baud if args.baud >= 1200 else 115200
    result = {"process": process_cycles(args.device, baud, args.seconds)}
    per_block = [loop_request_ms(args.device, baud, s, c, args.seconds / 5) for s, c in BLOCKS]
    result["loop"] = ({"cycle_ms": sum(per_block), "request_ms": per_block}
                      if None not in per_block else {"error": "too few polls"})
    print(json.dumps(result))


if __name__ == "__main__":
    main()
