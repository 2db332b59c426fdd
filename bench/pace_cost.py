#!/usr/bin/python3
"""The poll at the wire's pace: the real vormelq at Timer=1 against a slave emulating an
8N1 line, timed by the slave itself.

Two slaves, each in its own run: bench_line_emulator, which never sleeps, so that its
stamps are the moments bytes came and went and the gap is the station's own; and
vormelq-sim, whose stamps also hold its own wake-up to each request (a sleeping process
on this kind of machine wakes tens of microseconds after its input), as a plant's slow
slave would.

For each line (a pty, and RTU over TCP) and baud rate the simulator runs with --verbose,
which stamps every request's arrival and its reply's departure on its own clock. From
those stamps, over the measured window:
  cycle_ms:      mean time from one cycle's first request to the next one's;
  wire_ms:       the line's own time for a cycle as the simulator emulates it (request,
                 reply and the 3.5-character gaps it counts), plus, on a serial line, the
                 silence the master must keep before each request (3.5 characters,
                 1.75 ms above 19200 baud);
  ratio:         cycle_ms / wire_ms (ratio_p50: the median cycle's, which a busy
                 machine's stalls move less);
  gap_us:        from a reply's departure to the next request of the same cycle, less
                 that silence: what the master adds per exchange (p50, p99);
  next_cycle_us: the same from a cycle's last reply to the next cycle's first request.
pymodbus's client reads the same five blocks in a loop against the same TCP simulator in
the same run, as a peer (a loop of its own, no poll timer): its cycle over the same
wire time.
  bench/pace_cost.py BUILD_DIR [--seconds N] [--bauds 9600,115200] [--transports pty,tcp]
                    [--slaves emulator,sim] [--station OTHER_VORMELQ] [--realtime]
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BLOCKS = [(10, 4), (0, 8), (14, 6), (20, 3), (7, 3)]  # the cycle's reads, in order
LINE = re.compile(r"rx \[01 03 00 ([0-9a-f]{2}) .* in=(\d+) out=(\d+)")


def char_us(baud):
    return 10 * 1e6 / baud  # 8N1: start, 8 data, stop


def master_silence_us(baud):
    return 1750.0 if baud > 19200 else 3.5 * char_us(baud)


def wire_us(baud, transport):
    """The line's time for one cycle: what the simulator emulates, plus on a serial line
    the master's own silence before each request."""
    chars = sum(8 + 5 + 2 * n for _, n in BLOCKS)
    gaps = 2 if transport == "tcp" else 1  # as vormelq-sim --baud counts them
    us = (chars + gaps * 3.5 * len(BLOCKS)) * char_us(baud)
    if transport == "pty":
        us += master_silence_us(baud) * len(BLOCKS)
    return us


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100.0 * len(values)))]


def summary(values):
    return {"p50": round(statistics.median(values), 1), "p99": round(percentile(values, 99), 1),
            "mean": round(statistics.fmean(values), 1)}


def prefix(slave):
    """With --realtime, the simulator and the station run above the machine's other work
    (SCHED_FIFO), so a shared machine's builds do not take their turn. Not against the
    emulator: it spins on one core, and a station above everything on the other would
    hold up the kernel's own work that carries its request down a pty until the thread
    sleeps, and its link thread behind its window's at the same priority."""
    return ["chrt", "-f", "10"] if REALTIME and slave == "sim" else []


def start_slave(slave, args, err):
    # The emulator spins: above the machine's other work it would be throttled, not helped.
    command = [EMULATOR, *args] if slave == "emulator" else [*prefix(slave), SIM, *args, "--verbose"]
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=err, text=True)
    return proc, proc.stdout.readline().strip()


def analyse(log_path, baud, transport, upto, skip_s=1.0):
    """The station's exchanges in the slave's log, not the peer's that follow on the same
    slave: up to the first master's leaving (the emulator's log, written at its end), or
    its first `upto` bytes (the simulator's, written as it goes)."""
    exchanges = []  # (block start, in, out)
    with open(log_path) as f:
        text = f.read()
    for line in text[:upto].split("master gone")[0].splitlines():
        m = LINE.search(line)
        if m:
            exchanges.append((int(m.group(1), 16), int(m.group(2)), int(m.group(3))))
    starts = [i for i, e in enumerate(exchanges) if e[0] == BLOCKS[0][0]]
    first = next(i for i in starts if exchanges[i][1] >= exchanges[0][1] + skip_s * 1e6)
    starts = [i for i in starts if i >= first]
    silence = master_silence_us(baud) if transport == "pty" else 0.0
    gaps, next_cycle = [], []
    for a, b in zip(exchanges[first:], exchanges[first + 1:]):
        (next_cycle if b[0] == BLOCKS[0][0] else gaps).append(b[1] - a[2] - silence)
    cycles = len(starts) - 1
    cycle_us = (exchanges[starts[-1]][1] - exchanges[starts[0]][1]) / cycles
    each = [exchanges[b][1] - exchanges[a][1] for a, b in zip(starts, starts[1:])]
    wire = wire_us(baud, transport)
    return {"cycles": cycles, "cycle_ms": round(cycle_us / 1000, 3),
            "wire_ms": round(wire / 1000, 3), "ratio": round(cycle_us / wire, 4),
            "ratio_p50": round(statistics.median(each) / wire, 4),
            "gap_us": summary(gaps), "next_cycle_us": summary(next_cycle)}


def station_ini(transport, line, baud):
    if transport == "pty":
        link = "Comm_1=%s;\r\nBaudios_1=%d;\r\n" % (line[len("serving on "):], baud)
    else:
        host, port = line[len("listening on "):].rsplit(":", 1)
        link = "Comunicacion_1=1;\r\nHost_1=%s;\r\nPort_1=%s;\r\n" % (host, port)
    return "[Global]\r\n" + link + "ID_1=1;\r\nDecimales_1=1;\r\nTimer=1;\r\n"


def measure(slave, transport, baud, seconds):
    with tempfile.TemporaryDirectory(prefix="vormelq-pace-") as d:
        log = os.path.join(d, "sim.err")
        where = ["--pty", os.path.join(d, "line")] if transport == "pty" else \
            ["--listen", "127.0.0.1:0"]
        with open(log, "w") as err:
            sim, line = start_slave(slave, [*where, "--baud", str(baud)], err)
            with open(os.path.join(d, "modbus.ini"), "w") as f:
                f.write(station_ini(transport, line, baud))
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            station = subprocess.Popen([*prefix(slave), STATION], cwd=d, env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(seconds + 1.0)
            station.terminate()
            station.wait(10)
            station_log = os.path.getsize(log) if slave == "sim" else None
            peer = None
            if transport == "tcp":
                host, port = line[len("listening on "):].rsplit(":", 1)
                out = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "pymodbus_cycle.py"),
                                      host, port, "--seconds", str(min(seconds, 5.0))],
                                     capture_output=True, text=True).stdout
                peer = json.loads(out)
                peer["ratio"] = round(peer["cycle_ms"] * 1000 / wire_us(baud, transport), 4)
                peer["cycle_ms"] = round(peer["cycle_ms"], 3)
            sim.terminate()
            sim.wait(10)
        result = {"slave": slave, "transport": transport, "baud": baud,
                  **analyse(log, baud, transport, station_log)}
        if peer:
            result["pymodbus"] = {k: peer[k] for k in ("cycle_ms", "ratio", "failed_cycles")}
        return result


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--bauds", default="9600,115200")
    parser.add_argument("--transports", default="pty,tcp")
    parser.add_argument("--slaves", default="emulator,sim")
    parser.add_argument("--station", help="another vormelq to time (default: the build's)")
    parser.add_argument("--realtime", action="store_true",
                        help="run the simulator and the station at SCHED_FIFO priority 10")
    args = parser.parse_args()
    # Only where the user may (root or CAP_SYS_NICE); otherwise at the ordinary priority.
    REALTIME = args.realtime and subprocess.run(["chrt", "-f", "10", "true"],
                                                capture_output=True).returncode == 0
    build = os.path.abspath(args.build)
    STATION = args.station or os.path.join(build, "src/app/vormelq")
    SIM = os.path.join(build, "tools/sim/vormelq-sim")
    EMULATOR = os.path.join(build, "bench/bench_line_emulator")
    results = [dict(measure(s, t, int(b), args.seconds), realtime=REALTIME)
               for s in args.slaves.split(",") for b in args.bauds.split(",")
               for t in args.transports.split(",")]
    print(json.dumps(results))
