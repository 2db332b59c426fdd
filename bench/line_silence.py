#!/usr/bin/python3
"""What one silent module costs the others on its line, as a new user would see it.

Three modules (addresses 1, 2, 3) behind one RTU-over-TCP listener of pymodbus, the real
station (`vormelq --servicio`) polling them every TIMER ms. The readings of modules 1 and
3 (lines of Peso.csv and Modulo3/Peso.csv) are counted over a window with every module
answering, then over a window with address 2 switched off, then address 2 is switched on
again and the time until its next reading is taken. Prints one JSON object:
  healthy_per_s, silent_per_s: readings a second of module 1 and of module 3;
  kept:         their share kept during the silence (silent rate / healthy rate);
  back_ms:      from address 2 switched on to its next line.
  bench/line_silence.py BUILD_DIR [--timer MS] [--healthy-s N] [--silent-s N]
"""
import argparse
import json
import os
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLAVE = os.path.join(ROOT, "tests/link/modbus_rtu_tcp_server.py")


def lines(directory, module):
    name = "Peso.csv" if module == 1 else "Modulo%d/Peso.csv" % module
    try:
        with open(os.path.join(directory, name), "rb") as f:
            return f.read().count(b"\n")
    except OSError:
        return 0


def counts(directory):
    return [lines(directory, m) for m in (1, 2, 3)], time.monotonic()


def rates(before, after):
    (a, t0), (b, t1) = before, after
    return [round((b[i] - a[i]) / (t1 - t0), 3) for i in (0, 2)]


def tell(slave, command):
    """A command to the slave's standard input, once it has said it took it."""
    slave.stdin.write(command + "\n")
    slave.stdin.flush()
    slave.stdout.readline()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--timer", type=int, default=200)
    parser.add_argument("--healthy-s", type=float, default=20)
    parser.add_argument("--silent-s", type=float, default=30)
    args = parser.parse_args()
    station_bin = os.path.join(os.path.abspath(args.build), "src/app/vormelq")
    slave = subprocess.Popen(["/usr/bin/python3", SLAVE, "--ids", "1,2,3"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    port = int(slave.stdout.readline())
    with tempfile.TemporaryDirectory(prefix="vormelq-silence-") as d:
        with open(os.path.join(d, "modbus.ini"), "w") as f:
            f.write("[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=%d;\r\n"
                    "ID_1=1;\r\nModulos=3;\r\nID_2=2;\r\nID_3=3;\r\nTimer=%d;\r\n"
                    % (port, args.timer))
        station = subprocess.Popen([station_bin, "--servicio"], cwd=d,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            while min(counts(d)[0]) < 5:
                time.sleep(0.05)
            start = counts(d)
            time.sleep(args.healthy_s)
            healthy = counts(d)
            tell(slave, "silent 2")
            silenced = counts(d)
            time.sleep(args.silent_s)
            silent = counts(d)
            tell(slave, "answer 2")
            on = time.monotonic()
            while lines(d, 2) <= silent[0][1]:
                time.sleep(0.005)
            back_ms = (time.monotonic() - on) * 1000
        finally:
            station.terminate()
            station.wait(10)
            slave.stdin.close()
            slave.wait(10)
    healthy_rate = rates(start, healthy)
    silent_rate = rates(silenced, silent)
    print(json.dumps({"timer_ms": args.timer, "healthy_per_s": healthy_rate,
                      "silent_per_s": silent_rate,
                      "kept": [round(s / h, 3) for s, h in zip(silent_rate, healthy_rate)],
                      "back_ms": round(back_ms)}))


if __name__ == "__main__":
    main()
