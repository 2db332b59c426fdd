#!/usr/bin/env bash
# The chart's figures: CPU of the station polling every 500 ms with a day of history,
# chart closed and open at each span (under Xvfb), and `vormelq --plot` on a generated
# 100 MB Peso.csv (time and peak memory).
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

echo "== vormelq --plot on a 100 MB Peso.csv"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$root/scripts/gen-weight-log.py" "$work/Peso.csv" --size-mb 100 --locale es_ES --start 2026-11-20
printf 'lines: %s, bytes: %s\n' "$(wc -l <"$work/Peso.csv")" "$(stat -c %s "$work/Peso.csv")"
cat "$work/Peso.csv" >/dev/null  # from the page cache, as a second look at a file would be
for out in peso.png peso.svg; do
    /usr/bin/time -f "$out: %e s wall, %U s user, %S s system, %M KB peak" \
        "$build/src/app/vormelq" --plot "$work/Peso.csv" -o "$work/$out" 2>&1 | grep -v XDG_RUNTIME
done
/usr/bin/time -f "one hour (--from/--to) png: %e s wall, %M KB peak" \
    "$build/src/app/vormelq" --plot "$work/Peso.csv" -o "$work/hour.png" \
    --from "2026-11-21 09:00" --to "2026-11-21 10:00" 2>&1 | grep -v XDG_RUNTIME
