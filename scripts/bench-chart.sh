#!/usr/bin/env bash
# The chart's figures: CPU of the station polling every 500 ms with a day of history,
# chart closed and open at each span (under Xvfb). `vormelq --plot` of a 100 MB log is
# measured by scripts/bench.sh (bench/plot_cost.py).
#   scripts/bench-chart.sh [--quick]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=60
[ "${1:-}" = "--quick" ] && seconds=10
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMELQ_BENCH=ON \
    -DVORMELQ_TESTS=OFF >/dev/null
ninja -C "$build" -j2 bench_chart_cost vormelq vormelq-sim >/dev/null
sim="$build/tools/sim/vormelq-sim"

echo "== station CPU, Timer=500, ${seconds} s each"
for case in "none 0" "none 24" "1min 24" "10min 24" "1h 24"; do
    set -- $case
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/bench_chart_cost" "$sim" "$seconds" "$1" "$2" 2>/dev/null
done
