#!/usr/bin/python3
"""What `vormelq --informe` costs on a year of one busy module, beside `wc -l` on the same
Dosificaciones.csv in the same run: the report of one shift and of the whole year, the
process start and the PDF included.

The records are written by scripts/gen-dose-records.py (1,000,000 doses, about 70 MB,
one module, three shifts, products changed with their lots) unless --records names a
folder, and read once before the runs so that every program finds them in the page
cache. Each program runs under GNU time (peak RSS, CPU) with the plant's environment
(LANG=es_ES.UTF-8, TZ=Europe/Madrid); the wall time is taken around it. Every case runs
--runs times, interleaved.

Prints one JSON object: the file's lines and bytes, the limits, and for each case the
wall times (s), the median, the CPU (user + system, s) and the peak RSS (kB).
Run with the release build: report_cost.py BUILD_DIR [--runs N] [--records DIR]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

from gnu_time import cached_lines, summary, timed

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIMIT_SHIFT_S = 0.3
LIMIT_YEAR_S = 0.6
LIMIT_MB = 64


def env():
    e = dict(os.environ)
    e.update(LANG="es_ES.UTF-8", LC_ALL="es_ES.UTF-8", TZ="Europe/Madrid")
    e.pop("DISPLAY", None)
    e.pop("QT_QPA_PLATFORM", None)
    return e


def span(doses):
    """The first and last dates of the record (es_ES: d/m/yy), as AAAA-MM-DD."""
    def date(line):
        day, month, year = (int(x) for x in line.split(b";")[0].split(b"/"))
        return "%04d-%02d-%02d" % (2000 + year, month, day)
    with open(doses, "rb") as f:
        first = date(f.readline())
        f.seek(-4096, os.SEEK_END)
        last = date(f.read().splitlines()[-1])
    return first, last


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--records")
    args = parser.parse_args()
    vormelq = os.path.join(os.path.abspath(args.build), "src/app/vormelq")
    with tempfile.TemporaryDirectory() as work:
        records = args.records or os.path.join(work, "registros")
        if not args.records:
            subprocess.run([sys.executable, os.path.join(ROOT, "scripts/gen-dose-records.py"),
                            records, "--doses", "1000000"], check=True)
        doses = os.path.join(records, "Dosificaciones.csv")
        lines = cached_lines(doses)
        first, last = span(doses)
        # A shift in the middle of the year, and the year from its first day to past its last.
        middle = "%s-07-01" % first[:4]
        report = [vormelq, "--informe", records, "-o", os.path.join(work, "informe.pdf")]
        cases = {
            "shift": report + ["--desde", middle + " 06:00", "--hasta", middle + " 14:00"],
            "year": report + ["--desde", first, "--hasta", last + " 23:59"],
            "wc": ["wc", "-l", doses],
        }
        runs = {name: [] for name in cases}
        for _ in range(args.runs):
            for name, argv in cases.items():
                runs[name].append(timed(argv, work, env()))
        result = {"lines": lines, "bytes": os.path.getsize(doses),
                  "limit_shift_s": LIMIT_SHIFT_S, "limit_year_s": LIMIT_YEAR_S,
                  "limit_mb": LIMIT_MB}
        result.update({name: summary(r) for name, r in runs.items()})
        print(json.dumps(result))


if __name__ == "__main__":
    main()
