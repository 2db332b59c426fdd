#!/usr/bin/env python3
"""Writes a Peso.csv as the station would over whole days at Timer=500: dosing cycles
(coarse and fine feed, settling, emptying) with idle pauses, a lunch break with the
station off, now and then a module that does not answer for a few seconds.

    scripts/gen-weight-log.py OUT [--days N] [--locale es_ES|de_DE|en_US|C]
                              [--start 2026-12-07] [--decimals 1] [--size-mb M]

--size-mb keeps writing days until the file reaches M megabytes."""
import argparse
import datetime as dt
import os
import random

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def date_text(d, locale):
    # Qt 6.4's short date formats: d/M/yy, dd.MM.yy, M/d/yy, d MMM yyyy.
    if locale == "es_ES":
        return f"{d.day}/{d.month}/{d.year % 100:02d}"
    if locale == "de_DE":
        return f"{d.day:02d}.{d.month:02d}.{d.year % 100:02d}"
    if locale == "en_US":
        return f"{d.month}/{d.day}/{d.year % 100:02d}"
    return f"{d.day} {MONTHS[d.month - 1]} {d.year}"


def time_text(t, locale):
    # Long time without the zone: H:mm:ss, HH:mm:ss, h:mm:ss AP, HH:mm:ss.
    if locale == "es_ES":
        return f"{t.hour}:{t.minute:02d}:{t.second:02d}"
    if locale == "en_US":
        h = t.hour % 12 or 12
        return f"{h}:{t.minute:02d}:{t.second:02d} {'AM' if t.hour < 12 else 'PM'}"
    return f"{t.hour:02d}:{t.minute:02d}:{t.second:02d}"


def number(v, decimals, locale):
    text = f"{v:.{decimals}f}"
    if text.startswith("-") and float(text) == 0:
        text = text[1:]
    return text.replace(".", ",") if locale in ("es_ES", "de_DE") else text


def cycle_weights(rng, target, coarse, fine):
    """Net weight every 500 ms through one dosing cycle, from empty to empty."""
    w = 0.0
    out = []
    while w < coarse:  # coarse feed
        w += target / 8 + rng.uniform(-0.5, 0.5)
        out.append(w)
    while w < fine:  # fine feed
        w += target / 40 + rng.uniform(-0.1, 0.1)
        out.append(w)
    final = target + rng.uniform(-1.5, 1.5)
    for k in range(4):  # what is still in the air lands
        out.append(w + (final - w) * (k + 1) / 4 + rng.uniform(-0.2, 0.2))
    out += [final] * rng.randint(4, 10)  # settled
    while w > 0.5:  # emptying
        w = max(0.0, (out[-1] if out else w) - target / 6)
        out.append(w)
        if w <= 0:
            break
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--days", type=int, default=1)
    ap.add_argument("--locale", default="es_ES")
    ap.add_argument("--start", default="2026-12-07")
    ap.add_argument("--decimals", type=int, default=1)
    ap.add_argument("--size-mb", type=float, default=0)
    ap.add_argument("--random-start", type=int, default=7)
    a = ap.parse_args()
    rng = random.Random(a.random_start)
    day = dt.date.fromisoformat(a.start)
    tare = 12.4
    with open(a.out, "w", newline="") as f:
        days = 0
        while True:
            if a.size_mb and f.tell() >= a.size_mb * 1e6:
                break
            if not a.size_mb and days >= a.days:
                break
            days += 1
            # Shift from 06:00 to 22:00 with lunch 13:30-14:15 (station closed); the rest of
            # the day the station polls an idle, empty scale.
            t = dt.datetime.combine(day, dt.time(0, 0))
            end = t + dt.timedelta(days=1)
            half = dt.timedelta(milliseconds=500)
            target = 100.0
            queue = []
            while t < end:
                hm = t.hour * 60 + t.minute
                if 13 * 60 + 30 <= hm < 14 * 60 + 15:
                    t += dt.timedelta(minutes=1)
                    continue
                if rng.random() < 0.00005:  # module silent: a few failed cycles
                    t += dt.timedelta(seconds=6 * rng.randint(1, 5))
                    continue
                if not queue:
                    if 6 * 60 <= hm < 22 * 60:
                        if 8 * 60 <= hm < 16 * 60 and rng.random() < 0.0005:
                            target = rng.choice([50.0, 100.0, 150.0])
                        queue = cycle_weights(rng, target, target * 0.8, target * 0.98)
                        queue += [0.0] * rng.randint(6, 40)
                    else:
                        queue = [0.0] * 120
                net = queue.pop(0) + rng.uniform(-0.05, 0.05)
                gross = net + tare
                f.write(
                    f"{date_text(t.date(), a.locale)};{time_text(t.time(), a.locale)};"
                    f"{number(gross, a.decimals, a.locale)};{number(tare, a.decimals, a.locale)};"
                    f"{number(net, a.decimals, a.locale)}\r\n"
                )
                t += half
            day += dt.timedelta(days=1)


if __name__ == "__main__":
    main()
