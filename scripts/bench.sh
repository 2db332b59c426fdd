#!/usr/bin/env bash
# Reproduces every performance figure of the station and prints the table.
#   scripts/bench.sh [--quick]
# Builds the release tree build-bench (benchmarks on, tests off), then measures:
#   - the link's pure functions (Google Benchmark);
#   - the five block reads of one poll cycle by our link code, over loopback TCP and a
#     pty, with the simulator's wire-speed emulation off, at 9600 and at 115200 baud,
#     and the same reads by pymodbus (RTU over TCP) and mbpoll (pty) against the same
#     simulators in the same run;
#   - the real station polling one module at Timer=1 over a pty and over TCP, at 9600
#     and 115200 baud, timed by the slave: an exact line emulator that never sleeps (the
#     station's own gap) and the simulator (with its own wake-up): each cycle against the
#     line's time, the gap per exchange and before the next cycle, pymodbus against the
#     same slave;
#   - the real station polling four modules on one line: a round at Timer=1 against the
#     line's time at 9600 baud, and its CPU at Timer=500;
#   - the real station under Xvfb: CPU and memory over a minute at 500 ms, healthy and
#     silent module, start to first reading, module silent to lblError, poll intervals
#     from 500 ms down to 1 ms, and a perf profile;
#   - the real station against a module restarted on its port: readings back after
#     each restart, and the CPU meanwhile;
#   - the plant's broker (a loopback mosquitto): reading-to-subscriber latency, a day's
#     backlog drained with live readings on top, CPU with the broker up and down;
#   - vormelq --plot of a generated 100 MB Peso.csv, time and peak memory, beside wc -l
#     and gnuplot on the same file;
#   - vormelq --informe of a generated year of one module (1,000,000 doses), one shift
#     and the whole year, time and peak memory, beside wc -l on the same file.
# Raw results (JSON) and the table go to build-bench/bench-results/.
# --quick: shorter windows (10 s instead of 60 s and so on), about 2 minutes in all.
# --mqtt: the plant's broker only, full windows.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=0
only_mqtt=0
case "${1:-}" in
    --quick) quick=1 ;;
    --mqtt) only_mqtt=1 ;;
    "") ;;
    *) echo "usage: $0 [--quick | --mqtt]" >&2; exit 2 ;;
esac

build="$root/build-bench"
out="$build/bench-results"
py=/usr/bin/python3  # Debian's interpreter: python3-pymodbus lives there
if [ "$quick" = 1 ]; then
    micro_min=0.1 cycle_ms=700 other_s=1.5 cost_s=10 sweep_s=3 repeats=1 restarts=3 pace_s=4
else
    micro_min=0.5 cycle_ms=3000 other_s=4 cost_s=60 sweep_s=10 repeats=3 restarts=10 pace_s=15
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMELQ_BENCH=ON \
    -DVORMELQ_TESTS=OFF >/dev/null
ninja -C "$build" -j2 bench_codec bench_cycle bench_mqtt_backlog bench_line_emulator vormelq \
    vormelq-sim >/dev/null
sim="$build/tools/sim/vormelq-sim"
rm -rf "$out"
mkdir -p "$out"
{
    printf '%s, %s cores, %s, Linux %s, %s' \
        "$(lscpu | sed -n 's/^Model name: *//p' | head -n1)" "$(nproc)" \
        "$(free -g | awk '/^Mem:/ {print $2 " GB RAM"}')" "$(uname -r)" \
        "$(. /etc/os-release && echo "$PRETTY_NAME")"
    printf '; load average at start %s' "$(cut -d' ' -f1-3 /proc/loadavg)"
    printf '; %s; %s\n' "$(date -u +%Y-%m-%dT%H:%MZ)" "$(git -C "$root" rev-parse --short HEAD)"
} >"$out/machine.txt"

if [ "$only_mqtt" = 1 ]; then
    echo "== the plant's broker only (about 7 minutes)" >&2
    "$py" "$root/bench/mqtt_cost.py" "$build" >"$out/mqtt.json"
    "$py" "$root/bench/report.py" "$out" --mqtt | tee "$out/table.md"
    exit 0
fi

echo "== microbenchmarks" >&2
"$build/bench/bench_codec" --benchmark_min_time="$micro_min" \
    --benchmark_out="$out/codec.json" --benchmark_out_format=json >/dev/null

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Starts a simulator with the given arguments and sets sim_line to the line where it
# serves. Not run in a subshell, so that its process id reaches the cleanup.
start_sim() {
    local log="$1"
    shift
    "$sim" "$@" >"$log" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 200); do
        if [ -s "$log" ]; then
            sim_line="$(head -n1 "$log")"
            return
        fi
        sleep 0.05
    done
    echo "vormelq-sim did not start" >&2
    exit 1
}

for baud in 0 9600 115200; do
    echo "== poll cycle, wire emulation at baud $baud" >&2
    start_sim "$out/sim_tcp_$baud.log" --listen 127.0.0.1:0 --baud "$baud"
    tcp_line="$sim_line"
    start_sim "$out/sim_pty_$baud.log" --pty "$out/pty_$baud" --baud "$baud"
    pty_line="$sim_line"
    tcp="${tcp_line#listening on }"
    pty="${pty_line#serving on }"
    VORMELQ_SIM_TCP="$tcp" VORMELQ_SIM_PTY="$pty" VORMELQ_BENCH_BAUD="$baud" \
        VORMELQ_BENCH_MIN_MS="$cycle_ms" "$build/bench/bench_cycle" \
        --benchmark_out="$out/cycle_$baud.json" --benchmark_out_format=json >/dev/null
    "$py" "$root/bench/pymodbus_cycle.py" "${tcp%:*}" "${tcp##*:}" --seconds "$other_s" \
        >"$out/pymodbus_$baud.json"
    "$py" "$root/bench/mbpoll_cycle.py" "$pty" --baud "$baud" --seconds "$other_s" \
        >"$out/mbpoll_$baud.json"
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
done

echo "== the running station at the wire's pace, Timer=1 (about $((8 * pace_s + 60)) s)" >&2
"$py" "$root/bench/pace_cost.py" "$build" --seconds "$pace_s" --realtime >"$out/pace.json"

echo "== a line of four modules (about $((2 * pace_s + 10)) s)" >&2
xvfb-run -a "$py" "$root/bench/line_cost.py" "$build" --seconds "$pace_s" >"$out/line.json"

echo "== one module of a line of three silent for 30 s (about $((2 * pace_s + 40)) s)" >&2
"$py" "$root/bench/line_silence.py" "$build" --healthy-s "$((2 * pace_s))" >"$out/silence.json"

echo "== the running station (about $((2 * cost_s + 12 * sweep_s + 40)) s)" >&2
xvfb-run -a -s "-screen 0 800x760x24" "$py" "$root/bench/station_cost.py" \
    --station "$build/src/app/vormelq" --sim "$sim" --seconds "$cost_s" \
    --sweep-seconds "$sweep_s" --repeats "$repeats" >"$out/station.json"

echo "== module restarted on its port ($restarts times)" >&2
QT_QPA_PLATFORM=offscreen "$py" "$root/bench/recovery.py" --station "$build/src/app/vormelq" \
    --sim "$sim" --restarts "$restarts" >"$out/recovery.json"

echo "== the plant's broker (about $((2 * cost_s + 40)) s)" >&2
"$py" "$root/bench/mqtt_cost.py" "$build" $([ "$quick" = 1 ] && echo --quick) >"$out/mqtt.json"

echo "== vormelq --plot of a 100 MB log, wc -l and gnuplot beside it (about 2 minutes)" >&2
"$py" "$root/bench/plot_cost.py" "$build" --runs "$((quick ? 2 : 5))" >"$out/plot.json"

echo "== vormelq --informe of a year of one module (1,000,000 doses), wc -l beside it (about 1 minute)" >&2
"$py" "$root/bench/report_cost.py" "$build" --runs "$((quick ? 2 : 5))" >"$out/informe.json"

"$py" "$root/bench/report.py" "$out" | tee "$out/table.md"
echo "Module restarted on its port, Timer=500 (ms from listening to the next reading):"
cat "$out/recovery.json"
echo "The plant's broker (latency and CPU at Timer=100 and 500; a day's backlog):"
cat "$out/mqtt.json"
