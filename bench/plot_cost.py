#!/usr/bin/python3
"""What `vormelq --plot` of a 100 MB Peso.csv costs, beside `wc -l` and gnuplot on the
same file in the same run: the whole file as PNG (the figure with its limits) and as
SVG, and one hour of it (--from/--to) as PNG.

The log is written by scripts/gen-weight-log.py (es_ES, Timer=500, 100 MB) unless --log
names one, and read once before the runs so that every program finds it in the page
cache. Each program runs under GNU time (peak RSS, CPU) with the plant's environment
(LANG=es_ES.UTF-8, TZ=Europe/Madrid); the wall time is taken around it. vormelq and
wc -l run --runs times, interleaved, gnuplot once (it takes tens of seconds).

Prints one JSON object: the file's lines and bytes, the limits, and for each case the
wall times (s), the median, the CPU (user + system, s) and the peak RSS (kB).
Run with the release build: plot_cost.py BUILD_DIR [--runs N] [--log Peso.csv]
"""
import argparse
import datetime
import json
import os
import subprocess
import sys
import tempfile

from gnu_time import cached_lines, summary, timed

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIMIT_S = 0.5
LIMIT_MB = 64

GNUPLOT = """set terminal png size 1600,900
set output '{out}'
set datafile separator ';'
set decimalsign locale 'es_ES.UTF-8'
set xdata time
set format x '%d/%m %H:%M'
t(c) = timecolumn(1, '%d/%m/%y') + timecolumn(2, '%H:%M:%S')
plot '{log}' using (t(0)):3 with lines title 'Bruto', '' using (t(0)):5 with lines title 'Neto'
"""


def env():
    e = dict(os.environ)
    e.update(LANG="es_ES.UTF-8", LC_ALL="es_ES.UTF-8", TZ="Europe/Madrid",
             QT_QPA_PLATFORM="offscreen")
    return e


def hour_of(log):
    """--from and --to for 9:00 to 10:00 on the log's second day (es_ES: d/m/yy)."""
    with open(log, "rb") as f:
        day, month, year = (int(x) for x in f.readline().split(b";")[0].split(b"/"))
    second = datetime.date(2000 + year, month, day) + datetime.timedelta(days=1)
    return ["--from", "%s 09:00" % second, "--to", "%s 10:00" % second]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--log")
    args = parser.parse_args()
    vormelq = os.path.join(os.path.abspath(args.build), "src/app/vormelq")
    with tempfile.TemporaryDirectory() as work:
        log = args.log or os.path.join(work, "Peso.csv")
        if not args.log:
            subprocess.run([sys.executable, os.path.join(ROOT, "scripts/gen-weight-log.py"),
                            log, "--size-mb", "100", "--locale", "es_ES"], check=True)
        lines = cached_lines(log)
        script = os.path.join(work, "peso.gp")
        with open(script, "w") as f:
            f.write(GNUPLOT.format(out=os.path.join(work, "gnuplot.png"), log=log))
        plot = [vormelq, "--plot", log, "-o"]
        cases = {"vormelq": plot + [os.path.join(work, "peso.png")],
                 "wc": ["wc", "-l", log],
                 "vormelq_svg": plot + [os.path.join(work, "peso.svg")],
                 "vormelq_hour": plot + [os.path.join(work, "hour.png")] + hour_of(log)}
        runs = {name: [] for name in cases}
        for _ in range(args.runs):
            for name, argv in cases.items():
                runs[name].append(timed(argv, work, env()))
        runs["gnuplot"] = [timed(["gnuplot", script], work, env())]
        result = {"lines": lines, "bytes": os.path.getsize(log), "limit_s": LIMIT_S,
                  "limit_mb": LIMIT_MB}
        result.update({name: summary(r) for name, r in runs.items()})
        print(json.dumps(result))


if __name__ == "__main__":
    main()
