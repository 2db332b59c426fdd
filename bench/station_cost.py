#!/usr/bin/python3
"""What the running station costs: the real vormelq against vormelq-sim.

Runs under an X server (bench.sh wraps it in xvfb-run) and prints one JSON object:
  healthy / silent: CPU time over a window of polling at 500 ms, as % of one core,
                    and the resident memory at its end (VmRSS, VmHWM);
  dosing:           the same with the module dosing cycle after cycle and a tolerance
                    set, so Dosificaciones.csv and the notice are at work; with the
                    cycles recorded meanwhile;
  first_reading_ms: from starting the station to the first line in Peso.csv;
  error_shown_ms:   from switching the module off (SIGUSR2 to the simulator) to the
                    red text of lblError on screen, found by screenshots;
  sweep:            cycles per second (Peso.csv lines / elapsed) and CPU per poll
                    interval, with and without the simulator's wire-speed emulation.
"""
import argparse
import json
import os
import signal
import subprocess
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
# lblError's box in the window's client area (pixels).
ERROR_BOX = (520, 584, 170, 34)


class Sim:
    def __init__(self, binary, *args, port=0):
        self.proc = subprocess.Popen(
            [binary, "--listen", "127.0.0.1:%d" % port, *args],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.startswith("listening on "):
            raise RuntimeError("vormelq-sim: " + line)
        self.host, port = line[len("listening on "):].rsplit(":", 1)
        self.port = int(port)

    def toggle_silence(self):
        self.proc.send_signal(signal.SIGUSR2)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Station:
    def __init__(self, binary, sim, timer_ms, ini_extra=""):
        self.dir = tempfile.TemporaryDirectory(prefix="vormelq-bench-")
        # Every stored value carries one extra trailing character, which the station drops.
        ini = ("[Global]\r\nComunicacion_1=1;\r\nHost_1=%s;\r\nPort_1=%d;\r\n"
               "ID_1=1;\r\nDecimales_1=1;\r\nTimer=%d;\r\n" % (sim.host, sim.port, timer_ms)
               + ini_extra)
        with open(os.path.join(self.dir.name, "modbus.ini"), "w") as f:
            f.write(ini)
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary], cwd=self.dir.name,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def cpu_s(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime + stime

    def memory_kb(self):
        out = {}
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    out[key] = int(value.split()[0])
        return out

    def lines(self, name="Peso.csv"):
        try:
            with open(os.path.join(self.dir.name, name), "rb") as f:
                return f.read().count(b"\r\n")
        except FileNotFoundError:
            return 0

    def wait_first_line(self, limit_s=30):
        while self.lines() == 0:
            if time.monotonic() - self.started > limit_s or self.proc.poll() is not None:
                raise RuntimeError("the station logged nothing")
            time.sleep(0.005)
        return (time.monotonic() - self.started) * 1000

    def window_id(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                str(self.proc.pid)], capture_output=True, text=True)
            ids = r.stdout.split()
            if ids:
                return ids[-1]
            time.sleep(0.05)
        raise RuntimeError("no station window")

    def error_shown(self, window):
        """True when lblError's box holds pure red pixels (its text)."""
        x, y, w, h = ERROR_BOX
        r = subprocess.run(["import", "-window", window, "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                            "-depth", "8", "rgb:-"], capture_output=True)
        data = r.stdout
        return any(data[i] == 255 and data[i + 1] == 0 and data[i + 2] == 0
                   for i in range(0, len(data) - 2, 3))

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.dir.cleanup()


def cpu_over(station, seconds):
    cpu0, t0 = station.cpu_s(), time.monotonic()
    lines0 = station.lines()
    time.sleep(seconds)
    cpu1, t1 = station.cpu_s(), time.monotonic()
    return {"cpu_pct": 100.0 * (cpu1 - cpu0) / (t1 - t0),
            "cycles_per_s": (station.lines() - lines0) / (t1 - t0)}


def running_cost(args, silent, dosing=False):
    mode = ["--silent"] if silent else []
    if dosing:
        # Final weights spread over the 0.5 % tolerance: OK, Falta and Exceso all come.
        mode = ["--auto-cycle", "--seed", "7", "--spread", "5"]
    sim = Sim(args.sim, "--baud", "9600", *mode)
    station = Station(args.station, sim, 500, "Tolerancia_1=0.5;\r\n" if dosing else "")
    try:
        out = {}
        if not silent:
            out["first_reading_ms"] = station.wait_first_line()
        else:
            time.sleep(1)
        out.update(cpu_over(station, args.seconds))
        out.update(station.memory_kb())
        if dosing:
            out["doses"] = station.lines("Dosificaciones.csv")
        return out
    finally:
        station.stop()
        sim.stop()


def error_latency(args):
    """Module switched off between cycles at a random phase; repeated."""
    sim = Sim(args.sim, "--baud", "9600")
    station = Station(args.station, sim, 500)
    times = []
    try:
        station.wait_first_line()
        window = station.window_id()
        for i in range(args.repeats):
            time.sleep(0.5 + 0.17 * i)  # vary the phase against the timer
            if station.error_shown(window):
                raise RuntimeError("lblError shown while the module answers")
            sim.toggle_silence()
            t0 = time.monotonic()
            while not station.error_shown(window):
                if time.monotonic() - t0 > 30:
                    raise RuntimeError("lblError never showed")
            times.append((time.monotonic() - t0) * 1000)
            sim.toggle_silence()
            t1 = time.monotonic()
            while station.error_shown(window):
                if time.monotonic() - t1 > 30:
                    raise RuntimeError("lblError never went away")
        return times
    finally:
        station.stop()
        sim.stop()


def sweep(args, baud):
    rows = []
    for interval in args.intervals:
        sim = Sim(args.sim, "--baud", str(baud))
        station = Station(args.station, sim, interval)
        try:
            station.wait_first_line()
            row = {"interval_ms": interval, "baud": baud}
            row.update(cpu_over(station, args.sweep_seconds))
            rows.append(row)
        finally:
            station.stop()
            sim.stop()
    return rows


def profile(args):
    """perf's flat profile of the station polling as fast as it can (Timer=1, no wire
    emulation): the share of samples per library and the top functions."""
    sim = Sim(args.sim)
    station = Station(args.station, sim, 1)
    data = os.path.join(station.dir.name, "perf.data")
    try:
        station.wait_first_line()
        rec = subprocess.run(["perf", "record", "-q", "-F", "499", "-p", str(station.proc.pid),
                              "-o", data, "--", "sleep", str(args.sweep_seconds)],
                             capture_output=True, text=True)
        if rec.returncode != 0:
            return {"error": rec.stderr.strip()[-200:]}
        out = {}
        for key in ("dso", "sym"):
            rep = subprocess.run(["perf", "report", "-q", "-i", data, "--stdio", "--no-children",
                                  "--sort", key, "--percent-limit", "2"],
                                 capture_output=True, text=True)
            rows = []
            for line in rep.stdout.splitlines():
                parts = line.split(None, 1)
                if len(parts) == 2 and parts[0].endswith("%"):
                    rows.append([float(parts[0][:-1]), parts[1].strip()])
            out[key] = rows[:12]
        return out
    finally:
        station.stop()
        sim.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--station", required=True)
    p.add_argument("--sim", required=True)
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--sweep-seconds", type=float, default=10)
    p.add_argument("--repeats", type=int, default=3)
    # The station reads Timer=0 as "timer off", as a timer with interval 0 never fires: the
    # fastest it polls is Timer=1, a tick whenever the previous cycle is done.
    p.add_argument("--intervals", type=int, nargs="+", default=[500, 200, 100, 50, 20, 1])
    p.add_argument("--only", choices=["cost", "error", "sweep", "profile"], nargs="*")
    args = p.parse_args()
    args.station, args.sim = os.path.abspath(args.station), os.path.abspath(args.sim)
    parts = args.only or ["cost", "error", "sweep", "profile"]
    result = {}
    if "cost" in parts:
        result["healthy"] = running_cost(args, silent=False)
        result["silent"] = running_cost(args, silent=True)
        result["dosing"] = running_cost(args, silent=False, dosing=True)
    if "error" in parts:
        result["error_shown_ms"] = error_latency(args)
    if "sweep" in parts:
        result["sweep"] = sweep(args, 0) + sweep(args, 9600)
    if "profile" in parts:
        result["profile"] = profile(args)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
