"""A program's cost under GNU time, for the benchmarks that run whole processes."""
import os
import statistics
import subprocess
import sys
import time


def cached_lines(path):
    """Reads `path` once into the page cache, as a second look at a file finds it; its lines."""
    lines = 0
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            lines += block.count(b"\n")
    return lines


def timed(argv, work, env):
    """One run under GNU time in `env`: wall s, CPU (user + system) s, peak RSS kB."""
    stats = os.path.join(work, "time.txt")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-o", stats, "-f", "%U %S %M"] + argv,
                          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], done.returncode, done.stderr.decode()))
    with open(stats) as f:
        user, system, peak = f.read().split()[-3:]
    return wall, float(user) + float(system), int(peak)


def summary(runs):
    """The runs' wall times, their median, the median CPU and the largest peak RSS."""
    walls = [r[0] for r in runs]
    return {"wall_s": [round(w, 3) for w in walls], "median_s": round(statistics.median(walls), 3),
            "cpu_s": round(statistics.median(r[1] for r in runs), 3),
            "peak_rss_kb": max(r[2] for r in runs)}
