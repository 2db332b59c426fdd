#!/usr/bin/python3
"""How fast the real station picks a TCP module up again, and what it costs meanwhile.

Runs the station (offscreen) at Timer=500 against vormelq-sim and prints one JSON
object:
  first_reading_ms: from starting the station to the first line in Peso.csv;
  restart_ms:       for each of N restarts, from the restarted simulator listening
                    on the same port to the next new line in Peso.csv;
  away_cpu_percent: station CPU while the module is away, as % of one core.
Every simulator it starts is ended before it returns.
"""
import argparse
import json
import os
import subprocess
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


def start_sim(binary, port):
    proc = subprocess.Popen([binary, "--listen", "127.0.0.1:%d" % port],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline().strip()
    if not line.startswith("listening on "):
        proc.kill()
        proc.wait()
        raise RuntimeError("vormelq-sim: " + line)
    return proc, int(line.rsplit(":", 1)[1])


def stop(proc):
    proc.terminate()
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\r\n")
    except FileNotFoundError:
        return 0


def wait_new_line(path, before, limit_s=30):
    end = time.monotonic() + limit_s
    while lines(path) <= before:
        if time.monotonic() > end:
            raise RuntimeError("no reading within %d s" % limit_s)
        time.sleep(0.005)
    return time.monotonic()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--station", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--restarts", type=int, default=10)
    parser.add_argument("--away-s", type=float, default=3.0)
    args = parser.parse_args()

    station_binary = os.path.abspath(args.station)
    sim, port = start_sim(args.sim, 0)
    out = {"restart_ms": []}
    station = None
    with tempfile.TemporaryDirectory(prefix="vormelq-recovery-") as d:
        with open(os.path.join(d, "modbus.ini"), "w") as f:
            f.write("[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=%d;\r\n"
                    "ID_1=1;\r\nTimer=500;\r\n" % port)
        log = os.path.join(d, "Peso.csv")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        try:
            started = time.monotonic()
            station = subprocess.Popen([station_binary], cwd=d, env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            out["first_reading_ms"] = round((wait_new_line(log, 0) - started) * 1000)
            away_cpu, away_wall = 0.0, 0.0
            for _ in range(args.restarts):
                stop(sim)
                cpu0, t0 = cpu_s(station.pid), time.monotonic()
                time.sleep(args.away_s)
                away_cpu += cpu_s(station.pid) - cpu0
                away_wall += time.monotonic() - t0
                before = lines(log)
                sim, _ = start_sim(args.sim, port)
                listening = time.monotonic()
                out["restart_ms"].append(round((wait_new_line(log, before) - listening) * 1000))
            out["away_cpu_percent"] = round(100 * away_cpu / away_wall, 2)
        finally:
            if station is not None:
                stop(station)
            stop(sim)
    print(json.dumps(out))


if __name__ == "__main__":
    main()
