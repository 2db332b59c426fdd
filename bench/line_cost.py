#!/usr/bin/python3
"""A line of modules: the real vormelq against vormelq-sim --ids on one emulated line.

Prints one JSON object:
  round:  four modules on a pty at 9600 baud (the simulator emulating the wire time),
          Timer=1 so that rounds run back to back: the mean round, from the simulator's
          own arrival stamps (--verbose) of module 1's first request of each round, the
          wire time of a round (five blocks per module, request, reply and two
          3.5-character gaps each, 10 bits a character) and their ratio. (Counting
          Peso.csv lines over a window instead is off by up to a round in thirty.)
  cpu:    four modules over TCP polled every 500 ms: the station's CPU over the window
          as % of one core.
Runs under an X server (xvfb-run) like the other station benchmarks.
  bench/line_cost.py BUILD_DIR [--seconds N]
"""
import argparse
import json
import os
import re
import signal
import subprocess
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
BLOCKS = [4, 8, 6, 3, 3]  # registers of the five blocks of a module's cycle


def wire_ms(modules, baud):
    chars = sum(8 + 5 + 2 * n + 2 * 3.5 for n in BLOCKS) * modules
    return chars * 10 * 1000.0 / baud


# The simulator's line for the first request of module 1's cycle, with its arrival stamp.
ROUND_START = re.compile(r"rx \[01 03 00 0a .* in=(\d+)")


def start_sim(binary, args, err=subprocess.DEVNULL):
    proc = subprocess.Popen([binary, *args], stdout=subprocess.PIPE, stderr=err, text=True)
    line = proc.stdout.readline().strip()
    return proc, line


def start_station(binary, directory, link, modules, timer):
    ini = "[Global]\r\n" + link + "ID_1=1;\r\nTimer=%d;\r\nModulos=%d;\r\n" % (timer, modules)
    ini += "".join("ID_%d=%d;\r\n" % (n, n) for n in range(2, modules + 1))
    with open(os.path.join(directory, "modbus.ini"), "w") as f:
        f.write(ini)
    return subprocess.Popen([os.path.join(BUILD, "src/app/vormelq")], cwd=directory,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def lines(directory):
    try:
        with open(os.path.join(directory, "Peso.csv"), "rb") as f:
            return f.read().count(b"\n")
    except OSError:
        return 0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def wait_lines(directory, count):
    while lines(directory) < count:
        time.sleep(0.05)


def round_starts(log_path):
    with open(log_path) as f:
        return [int(m.group(1)) for m in map(ROUND_START.search, f) if m]


def measure_round(seconds, modules=4, baud=9600):
    with tempfile.TemporaryDirectory(prefix="vormelq-line-") as d:
        link = os.path.join(d, "line")
        ids = ",".join(str(n) for n in range(1, modules + 1))
        log = os.path.join(d, "sim.err")
        with open(log, "w") as err:
            sim, _ = start_sim(SIM, ["--pty", link, "--ids", ids, "--baud", str(baud),
                                     "--verbose"], err)
            station = start_station(BIN, d, "Comm_1=%s;\r\nBaudios_1=%d;\r\n" % (link, baud),
                                    modules, 1)
            wait_lines(d, 3)
            time.sleep(seconds)
            station.send_signal(signal.SIGTERM)
            station.wait(10)
            sim.terminate()
            sim.wait(10)
        starts = round_starts(log)[2:]  # the first rounds include the start-up
    measured = (starts[-1] - starts[0]) / 1000.0 / (len(starts) - 1)
    return {"modules": modules, "baud": baud, "round_ms": round(measured, 1),
            "wire_ms": round(wire_ms(modules, baud), 1),
            "ratio": round(measured / wire_ms(modules, baud), 3)}


def measure_cpu(seconds, modules=4):
    sim, line = start_sim(SIM, ["--listen", "127.0.0.1:0", "--ids",
                                ",".join(str(n) for n in range(1, modules + 1))])
    host, port = line[len("listening on "):].rsplit(":", 1)
    with tempfile.TemporaryDirectory(prefix="vormelq-line-") as d:
        station = start_station(BIN, d, "Comunicacion_1=1;\r\nHost_1=%s;\r\nPort_1=%s;\r\n"
                                % (host, port), modules, 500)
        wait_lines(d, 4)
        c0, t0 = cpu_seconds(station.pid), time.monotonic()
        time.sleep(seconds)
        cpu = (cpu_seconds(station.pid) - c0) / (time.monotonic() - t0) * 100
        station.send_signal(signal.SIGTERM)
        station.wait(10)
    sim.terminate()
    sim.wait(10)
    return {"modules": modules, "timer_ms": 500, "cpu_percent": round(cpu, 2)}


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=20)
    args = parser.parse_args()
    BUILD = os.path.abspath(args.build)
    BIN = os.path.join(BUILD, "src/app/vormelq")
    SIM = os.path.join(BUILD, "tools/sim/vormelq-sim")
    print(json.dumps({"round": measure_round(args.seconds), "cpu": measure_cpu(args.seconds)}))
