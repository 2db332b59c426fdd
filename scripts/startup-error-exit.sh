#!/usr/bin/env bash
# How long the station takes to end once the operator closes the start-up error box,
# for a failure before the link opens (TCP, bad Port_1) and one after the serial port
# was opened (bad Decimales_1 on a pty). Runs under Xvfb; Enter closes the box.
#   scripts/startup-error-exit.sh [runs per case, default 5]
# BUILD=dir picks the build directory (default: build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
make -C "$root" build BUILD="$build" >/dev/null
bin="$build/src/app/vormelq"
simbin="$build/tools/sim/vormelq-sim"

work="$(mktemp -d /tmp/vormelq-exit.XXXXXX)"
cd "$work"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x760x24 -nolisten tcp -noreset 2>/dev/null &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM

"$simbin" --pty "$work/module" --slave 1 >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^serving on' "$work/sim.out" && break; sleep 0.05; done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

measure() { # measure NAME INI-TEXT
    local name="$1" total=0 worst=0
    printf '%s' "$2" >modbus.ini
    for _ in $(seq "$runs"); do
        "$bin" >/dev/null 2>"$work/station.err" &
        local pid=$! box="" t0 t1 code=0
        for _ in $(seq 200); do
            box="$(xdotool search --onlyvisible --name '^Vormel-Q$' 2>/dev/null | head -n1 || true)"
            [ -n "$box" ] && break
            sleep 0.05
        done
        [ -n "$box" ] || { echo "$name: no box appeared" >&2; kill "$pid"; return 1; }
        # The port must already be closed while the box is up.
        if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$(readlink -f "$work/module")"; then
            echo "$name: port still open while the box is up" >&2
        fi
        t0=$(now_ms)
        xdotool windowfocus "$box" key Return
        wait "$pid" || code=$?
        t1=$(now_ms)
        [ "$code" != 0 ] || echo "$name: exit code 0 after a start-up error" >&2
        total=$((total + t1 - t0))
        [ $((t1 - t0)) -gt "$worst" ] && worst=$((t1 - t0))
    done
    printf '%-34s exit code %s, box closed to exit: mean %d ms, worst %d ms (%d runs)\n' \
        "$name" "$code" $((total / runs)) "$worst" "$runs"
    grep '^vormelq:' "$work/station.err" | sed 's/^/    /'
}

measure "TCP, Port_1=70000" $'[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=70000;\r\n'
measure "serial pty, Decimales_1=-1" "[Global]
Comunicacion_1=0;
Comm_1=$work/module;
Baudios_1=115200;
Decimales_1=-1;
"
