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
import time

from station_cost import Sim, Station


def wait_new_line(station, before, limit_s=30):
    end = time.monotonic() + limit_s
    while station.lines() <= before:
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

    sim = Sim(args.sim)
    out = {"restart_ms": []}
    station = None
    try:
        # The station runs in a directory of its own: its path must not be relative.
        station = Station(os.path.abspath(args.station), sim, 500)
        out["first_reading_ms"] = round(station.wait_first_line())
        away_cpu, away_wall = 0.0, 0.0
        for _ in range(args.restarts):
            sim.stop()
            cpu0, t0 = station.cpu_s(), time.monotonic()
            time.sleep(args.away_s)
            away_cpu += station.cpu_s() - cpu0
            away_wall += time.monotonic() - t0
            before = station.lines()
            sim = Sim(args.sim, port=sim.port)
            listening = time.monotonic()
            out["restart_ms"].append(round((wait_new_line(station, before) - listening) * 1000))
        out["away_cpu_percent"] = round(100 * away_cpu / away_wall, 2)
    finally:
        if station is not None:
            station.stop()
        sim.stop()
    print(json.dumps(out))


if __name__ == "__main__":
    main()
