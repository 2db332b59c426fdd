#!/usr/bin/env python3
"""Writes a station's records folder as a busy line would leave it: modbus.ini with the
modules' names, decimals, tolerance and three shifts, Productos.csv, and for each module
a Dosificaciones.csv of doses one after another (products changed every few hundred
doses, lots of a planned count, now and then an incomplete dose) with its Cambios.csv
of the product and lot changes, chained as the station chains them. es_ES formats.

    scripts/gen-dose-records.py OUT_DIR [--doses N] [--modules M] [--start 2026-01-01]
                                [--seconds-per-dose S] [--seed K]

N doses per module (default 1,000,000: a year of one module at 30 s a dose)."""
import argparse
import datetime as dt
import hashlib
import os
import random

PRODUCTS = [("Harina A", 25.0, 0.5), ("Harina B", 50.0, 0.4), ("Azúcar", 10.0, 1.0)]


def day_text(t):
    return f"{t.day}/{t.month}/{t.year % 100:02d}"


def clock_text(t):
    return f"{t.hour}:{t.minute:02d}:{t.second:02d}"


def weight(v):
    return f"{v:.1f}".replace(".", ",")


def chain(previous, body):
    return hashlib.sha256(previous + b";" + body).hexdigest()[:16].encode()


def write_module(folder, doses, start, step, rng):
    os.makedirs(folder, exist_ok=True)
    t = start
    previous = b"0000000000000000"
    with open(os.path.join(folder, "Dosificaciones.csv"), "wb") as out, \
            open(os.path.join(folder, "Cambios.csv"), "wb") as changes:
        def change(when, campo, antes, valor):
            nonlocal previous
            body = ";".join([day_text(when), clock_text(when), "operador", "linea1", campo,
                             antes, valor, "", "Anotado"]).encode()
            previous = chain(previous, body)
            changes.write(body + b";" + previous + b"\r\n")

        product, lot, left, lots = None, "", 0, 0
        lines = []
        for i in range(doses):
            if left == 0:
                name, target, tol = PRODUCTS[rng.randrange(len(PRODUCTS))]
                lots += 1
                planned = rng.choice([200, 300, 500])
                new_lot = f"L-{lots:05d}"
                change(t, "Lote", lot, new_lot)
                change(t, "Dosis planificadas", str(left or ""), str(planned))
                product, lot, left = (name, target, tol), new_lot, planned
            name, target, tol = product
            begin = t
            end = t + dt.timedelta(seconds=step - 4)
            if rng.random() < 0.01:
                fields = [day_text(begin), clock_text(begin), clock_text(end), weight(target),
                          weight(target * 0.9), weight(target * 0.02), "", "", "Incompleta"]
            else:
                final = round(target + rng.gauss(0, target * tol / 250), 1)
                off = round(final - target, 1)
                limit = target * tol / 100
                result = "OK" if abs(off) <= limit + 1e-9 else ("Falta" if off < 0 else "Exceso")
                fields = [day_text(begin), clock_text(begin), clock_text(end), weight(target),
                          weight(target * 0.9), weight(target * 0.02), weight(final), weight(off),
                          result]
                left -= 1
            lines.append(";".join(fields + [name, lot]))
            if len(lines) >= 10000:
                out.write(("\r\n".join(lines) + "\r\n").encode())
                lines = []
            t += dt.timedelta(seconds=step)
        if lines:
            out.write(("\r\n".join(lines) + "\r\n").encode())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--doses", type=int, default=1_000_000)
    ap.add_argument("--modules", type=int, default=1)
    ap.add_argument("--start", default="2026-01-01")
    ap.add_argument("--seconds-per-dose", type=int, default=30)
    ap.add_argument("--seed", type=int, default=7)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    os.makedirs(a.out, exist_ok=True)
    # Every stored value carries one more character, which the station drops.
    ini = ["[Global]", f"Modulos={a.modules};", "Decimales_1=1;", "Tolerancia_1=0.5;"]
    ini += [f"Nombre_{n}=Línea {n};" for n in range(1, a.modules + 1)]
    ini += [f"ID_{n}={n};" for n in range(2, a.modules + 1)]
    ini += ["", "[Turnos]", "Turno1=06:00-14:00;", "Turno2=14:00-22:00;", "Turno3=22:00-06:00;"]
    with open(os.path.join(a.out, "modbus.ini"), "w", encoding="utf-8") as f:
        f.write("\r\n".join(ini) + "\r\n")
    with open(os.path.join(a.out, "Productos.csv"), "w", encoding="utf-8") as f:
        f.write("nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\n")
        for name, target, tol in PRODUCTS:
            f.write(f"{name};0,5;{weight(target * 0.9)};{weight(target * 0.02)};"
                    f"{weight(target)};100;{str(tol).replace('.', ',')}\r\n")
    start = dt.datetime.fromisoformat(a.start)
    for n in range(1, a.modules + 1):
        folder = a.out if n == 1 else os.path.join(a.out, f"Modulo{n}")
        write_module(folder, a.doses, start, a.seconds_per_dose, rng)


if __name__ == "__main__":
    main()
