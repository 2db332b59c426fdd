#!/usr/bin/python3
"""Turns the JSON left by scripts/bench.sh in one directory into the Markdown tables of
the results (ratios first) and prints them."""
import json
import os
import sys


def load(directory, name):
    path = os.path.join(directory, name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        text = f.read().strip()
    try:
        return json.loads(text.splitlines()[-1] if not text.startswith("{\n") else text)
    except (ValueError, IndexError):
        return None


def gbench(directory, name):
    """Google Benchmark JSON: name -> the benchmark's entry."""
    data = load(directory, name)
    return {b["name"].split("/min_time")[0]: b for b in data["benchmarks"]} if data else {}


def fmt(value, digits=2):
    return "n/a" if value is None else ("%.*f" % (digits, value))


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def process_table(result, cases):
    """The programs of a gnu_time run, a row each: the median wall time, the runs, the CPU
    and the peak RSS."""
    rows = []
    for key, label in cases:
        r = result.get(key)
        if r:
            rows.append([label, fmt(r["median_s"], 3), ", ".join(fmt(w, 3) for w in r["wall_s"]),
                         fmt(r["cpu_s"], 2), fmt(r["peak_rss_kb"] / 1024, 1)])
    return table(["program", "wall s (median)", "runs", "CPU s (user + system)", "peak RSS MB"],
                 rows) + "\n"


def ratio(a, b):
    return None if a is None or b in (None, 0) else a / b


def mqtt_section(d):
    """The plant's broker: the station's figures beside their peers."""
    out = []
    mqtt = load(d, "mqtt.json")
    if mqtt:
        lat, rt = mqtt.get("latency", {}), mqtt.get("round_trip", {})
        out.append("### The plant's broker (loopback mosquitto; goals: p99 at most 20 ms, a "
                   "day's backlog at most 2 s and a week's at most 15 s to the broker)\n")
        out.append(table(["from a reading to a paho subscriber, Timer=100", "p50 ms", "p99 ms",
                          "max ms"],
                         [["the station (%s readings)" % lat.get("messages"),
                           fmt(lat.get("p50_ms"), 1), fmt(lat.get("p99_ms"), 1),
                           fmt(lat.get("max_ms"), 1)],
                          ["peer: paho's QoS 1 round trip through the broker", fmt(rt.get("p50_ms")),
                           fmt(rt.get("p99_ms")), fmt(rt.get("max_ms"))]]) + "\n")
        rows = []
        for key in ("backlog", "week"):
            b = mqtt.get(key)
            if b:
                rows.append([b["messages"], fmt(b["to_broker_s"]), b["to_broker_per_s"],
                             fmt(b["to_subscriber_s"]), fmt(b["live_max_ms"], 0),
                             fmt(b["broker_cpu_s"]), b["received"], b["in_order"]])
        peer = mqtt.get("backlog_peer")
        if peer:
            rows.append(["peer: mosquitto_pub -l, %d given" % peer["messages"],
                         fmt(peer["to_broker_s"]), peer["to_broker_per_s"], "", "",
                         fmt(peer["broker_cpu_s"]), peer.get("acknowledged", ""), ""])
        out.append(table(["backlog", "to the broker s", "msg/s", "to paho s",
                          "live reading's longest wait ms", "broker CPU s", "received",
                          "in order"], rows) + "\n")
    return out


def main():
    d = sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[2] == "--mqtt":
        with open(os.path.join(d, "machine.txt")) as f:
            print("Machine: " + f.read().strip() + "\n")
        print("\n".join(mqtt_section(d)))
        return
    bauds = [int(b) for b in sys.argv[2].split(",")] if len(sys.argv) > 2 else [0, 9600, 115200]
    out = []
    with open(os.path.join(d, "machine.txt")) as f:
        out.append("Machine: " + f.read().strip() + "\n")

    cycles = {b: gbench(d, "cycle_%d.json" % b) for b in bauds}

    def ours(baud, transport):
        entry = cycles[baud].get("PollCycle/%s/baud:%d" % (transport, baud))
        return entry if entry and not entry.get("error_occurred") else None

    out.append("### Against the wire limit (goal: ratio at most 1.05; on the pty the limit "
               "holds the silence the master keeps before each request)\n")
    rows = []
    for baud in [b for b in bauds if b > 0]:
        for transport in ("tcp", "pty"):
            e = ours(baud, transport)
            if e:
                rows.append([baud, transport, fmt(e["ratio_wire"], 3),
                             fmt(e["cycle_ms"]), fmt(e["wire_ms"])])
    out.append(table(["baud", "link", "cycle / wire limit",
                      "cycle ms", "wire limit ms"], rows) + "\n")

    out.append("### Against other masters (same five blocks, same simulator, same run; "
               "ratio = their cycle time / ours, above 1 means slower than ours)\n")
    rows = []
    for baud in bauds:
        py, mb = load(d, "pymodbus_%d.json" % baud), load(d, "mbpoll_%d.json" % baud)
        tcp, pty = ours(baud, "tcp"), ours(baud, "pty")
        tcp_ms, pty_ms = tcp and tcp["cycle_ms"], pty and pty["cycle_ms"]
        py_ms = py.get("cycle_ms") if py else None
        proc_ms = mb["process"]["cycle_ms"] if mb else None
        loop_ms = mb["loop"].get("cycle_ms") if mb else None
        rows.append([baud or "none", fmt(ratio(py_ms, tcp_ms)), fmt(ratio(loop_ms, pty_ms)),
                     fmt(ratio(proc_ms, pty_ms)), fmt(tcp_ms, 3), fmt(py_ms, 3), fmt(pty_ms, 3),
                     fmt(loop_ms, 3), fmt(proc_ms, 1)])
    out.append(table(["wire emulation (baud)", "pymodbus / ours (TCP)",
                      "mbpoll loop / ours (pty)", "mbpoll 5 processes / ours (pty)",
                      "ours TCP ms", "pymodbus TCP ms", "ours pty ms", "mbpoll loop ms",
                      "mbpoll processes ms"], rows) + "\n")
    rows = []
    for baud in bauds:
        py, tcp = load(d, "pymodbus_%d.json" % baud), ours(baud, "tcp")
        if py and tcp:
            ours_cpu = tcp["cpu_time"]  # the cycle benchmark reports in ms
            rows.append([baud or "none", fmt(ratio(py["cpu_ms_per_cycle"], ours_cpu)),
                         fmt(ours_cpu, 3), fmt(py["cpu_ms_per_cycle"], 3)])
    out.append("CPU per cycle of the master process (TCP):\n")
    out.append(table(["wire emulation (baud)", "pymodbus / ours", "ours ms", "pymodbus ms"],
                     rows) + "\n")

    st = load(d, "station.json") or {}
    out.append("### The running station (goal: under 1 % of one core)\n")
    rows = []
    for key, label in (("healthy", "healthy module"), ("silent", "silent module"),
                       ("dosing", "dosing module, Dosificaciones.csv kept (Tolerancia_1=0.5)")):
        s = st.get(key)
        if s:
            rows.append([label, fmt(s["cpu_pct"], 3), s.get("VmRSS"), s.get("VmHWM"),
                         fmt(s["cycles_per_s"])])
    out.append(table(["polling at 500 ms, RTU over TCP at 9600 baud emulation", "CPU % of one core",
                      "VmRSS kB", "VmHWM kB", "cycles/s"], rows) + "\n")
    if "healthy" in st:
        out.append("- Start to first reading (first line in Peso.csv): %s ms" %
                   fmt(st["healthy"].get("first_reading_ms"), 0))
    if "dosing" in st:
        out.append("- Dosing cycles recorded meanwhile: %s" % st["dosing"].get("doses"))
    if "error_shown_ms" in st:
        times = st["error_shown_ms"]
        out.append("- Module silent to lblError on screen: %s ms (runs: %s)\n" %
                   (fmt(sum(times) / len(times), 0), ", ".join(fmt(t, 0) for t in times)))

    if st.get("sweep"):
        out.append("### Poll interval sweep\n")
        rows = [[r["interval_ms"], r["baud"] or "none", fmt(r["cycles_per_s"]),
                 fmt(1000.0 / r["cycles_per_s"], 1) if r["cycles_per_s"] > 0 else "n/a",
                 fmt(r["cpu_pct"], 2)] for r in st["sweep"]]
        out.append(table(["Timer ms", "wire emulation (baud)", "cycles/s", "ms per cycle",
                          "CPU % of one core"], rows) + "\n")

    prof = st.get("profile")
    if prof and "dso" in prof:
        out.append("### Profile: station at Timer=1, no wire emulation (perf, share of samples)\n")
        out.append(table(["% samples", "library"], [[fmt(p, 1), n] for p, n in prof["dso"]]))
        out.append("")
        out.append(table(["% samples", "function"], [[fmt(p, 1), n] for p, n in prof["sym"]]) + "\n")

    plot = load(d, "plot.json")
    if plot:
        out.append("### `vormelq --plot` of a %.0f MB Peso.csv (%d lines; goal: at most %.1f s "
                   "and %d MB), beside wc -l and gnuplot on the same file\n" %
                   (plot["bytes"] / 2**20, plot["lines"], plot["limit_s"], plot["limit_mb"]))
        out.append(process_table(plot, (
            ("vormelq", "vormelq --plot, PNG 1600x900"), ("wc", "wc -l"),
            ("gnuplot", "gnuplot, PNG 1600x900 (gross and net)"),
            ("vormelq_svg", "vormelq --plot, SVG"),
            ("vormelq_hour", "vormelq --plot, one hour (--from/--to), PNG"))))

    informe = load(d, "informe.json")
    if informe:
        out.append("### `vormelq --informe` of a year of one module (%d doses, %.0f MB; goal: one "
                   "shift in at most %.1f s, the year in %.1f s, %d MB), beside wc -l on the "
                   "same Dosificaciones.csv\n" %
                   (informe["lines"], informe["bytes"] / 2**20, informe["limit_shift_s"],
                    informe["limit_year_s"], informe["limit_mb"]))
        out.append(process_table(informe, (("shift", "vormelq --informe, one shift"),
                                           ("year", "vormelq --informe, the whole year"),
                                           ("wc", "wc -l"))))

    pace = load(d, "pace.json")
    if pace:
        out.append("### The running station at the wire's pace (`Timer=1`, one module; goal: "
                   "ratio at most 1.02 at 9600 baud and 1.05 at 115200, a gap of at most "
                   "0.1 ms per exchange and 0.2 ms before the next cycle)\n")
        rows = [[r.get("slave", "sim"), r["baud"], r["transport"], fmt(r["ratio"], 3),
                 fmt(r["ratio_p50"], 3),
                 fmt(r["cycle_ms"], 3),
                 fmt(r["wire_ms"], 3), "%s / %s" % (fmt(r["gap_us"]["p50"], 0),
                                                    fmt(r["gap_us"]["p99"], 0)),
                 "%s / %s" % (fmt(r["next_cycle_us"]["p50"], 0),
                              fmt(r["next_cycle_us"]["p99"], 0)),
                 fmt(r["pymodbus"]["ratio"], 3) if "pymodbus" in r else "",
                 r["cycles"]] for r in pace]
        out.append(table(["slave", "baud", "link", "cycle / wire limit",
                          "median cycle / wire limit",
                          "cycle ms", "wire limit ms",
                          "gap µs p50 / p99", "next cycle µs p50 / p99",
                          "pymodbus / wire limit", "cycles"], rows) + "\n")
    line = load(d, "line.json")
    if line:
        r, c = line["round"], line["cpu"]
        out.append("### A line of modules (four modules, one link; goal: a round at most 1.03 "
                   "of the line's time at 9600 baud, under 1 % of a core at `Timer=500`)\n")
        out.append(table(["figure", "result", "limit"],
                         [["round at `Timer=1`, pty at %d baud" % r["baud"],
                           "%s ms (%s of the line)" % (fmt(r["round_ms"], 1), fmt(r["ratio"], 3)),
                           "%s ms" % fmt(r["wire_ms"], 1)],
                          ["CPU at `Timer=500`, RTU over TCP", "%s %% of one core"
                           % fmt(c["cpu_percent"], 2), "1 %"]]) + "\n")
    silence = load(d, "silence.json")
    if silence:
        out.append("### A silent module on a line (three modules of pymodbus over RTU over TCP, "
                   "`Timer=%d`, address 2 silent for 30 s; goal: the others keep at least 85 %% "
                   "of their readings)\n" % silence["timer_ms"])
        out.append(table(["module", "readings/s answering", "readings/s during the silence",
                          "kept"],
                         [[str(m), fmt(h, 2), fmt(s, 2), fmt(k, 3)] for m, h, s, k in
                          zip((1, 3), silence["healthy_per_s"], silence["silent_per_s"],
                              silence["kept"])]) + "\n")
        out.append("Address 2 switched on again: its next reading %d ms later.\n"
                   % silence["back_ms"])
    out += mqtt_section(d)

    codec = gbench(d, "codec.json")
    if codec:
        out.append("### Microbenchmarks (CPU time per call)\n")
        rows = [[name, fmt(b["cpu_time"], 1), b["time_unit"]] for name, b in codec.items()]
        out.append(table(["benchmark", "time", "unit"], rows) + "\n")
    print("\n".join(out))


if __name__ == "__main__":
    main()
