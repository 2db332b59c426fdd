#!/usr/bin/env bash
# Measures how long the station takes to end once its window is closed (WM_DELETE_WINDOW,
# as a window manager's close button sends it) while a transaction waits on a silent
# module. Usage: scripts/shutdown-time.sh [build-dir]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
cleanup() { kill "${sim:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
Xvfb :97 -screen 0 1024x768x24 >/dev/null 2>&1 & xvfb=$!
export DISPLAY=:97
"$build/tools/sim/vormelq-sim" --listen 127.0.0.1:0 --silent >"$work/sim.out" & sim=$!
until grep -q listening "$work/sim.out"; do sleep 0.1; done
port=$(sed -n 's/.*listening on [^:]*:\([0-9]*\).*/\1/p' "$work/sim.out")
printf '[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=%s;\r\nID_1=1;\r\nTimer=100;\r\n' "$port" >"$work/modbus.ini"
(cd "$work" && exec "$OLDPWD/$build/src/app/vormelq") & station=$!
until win=$(xdotool search --pid "$station" 2>/dev/null | tail -1) && [ -n "$win" ]; do sleep 0.1; done
sleep 1  # a read is waiting for its reply by now
start=$(date +%s%N)
/usr/bin/python3 "$(dirname "$0")/../tests/e2e/wm_close.py" "$win"
wait "$station" || true
end=$(date +%s%N)
echo "window closed mid-transaction: process ended after $(( (end - start) / 1000000 )) ms"
