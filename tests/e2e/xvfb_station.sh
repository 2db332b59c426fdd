# Sourced by the scripts that drive the real station and the simulated module on a
# private X server. Needs `station` and `sim` set; `tools` lists what the script runs,
# each as COMMAND:DEBIAN-PACKAGE. Gives the script a work directory cleaned up on exit,
# `fail`, `wait_until` and `start_sim`.

for tool in xvfb-run:xvfb xdotool:xdotool "${tools[@]}"; do
    command -v "${tool%%:*}" >/dev/null ||
        { echo "FAIL: ${tool%%:*} not installed (Debian package ${tool#*:}; scripts/install-deps.sh)" >&2; exit 1; }
done

# Always on an X server of our own, so a desktop session is never clicked into. The
# sourcing script runs again under it, with its own arguments.
if [ -z "${VORMELQ_OWN_XVFB:-}" ]; then
    VORMELQ_OWN_XVFB=1 exec xvfb-run -a -s "-screen 0 800x760x24" "$0" "$@"
fi

work="$(mktemp -d)"
simpid=""
stationpid=""
cleanup() {
    local rc=$?
    for pid in $stationpid $simpid; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- last requests seen by the module:" >&2
    tail -n 20 "$work/sim.err" >&2 || true
    echo "--- station's standard error:" >&2
    tail -n 20 "$work/station.err" >&2 || true
    exit 1
}

# Polls a condition; the limit only keeps a broken build from hanging the suite.
wait_until() {
    for _ in $(seq 300); do
        if eval "$1"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Starts the simulated module on loopback with the given options; sets `addr` to
# HOST:PORT where it listens.
start_sim() {
    "$sim" --listen 127.0.0.1:0 "$@" >"$work/sim.out" 2>"$work/sim.err" &
    simpid=$!
    wait_until "grep -q '^listening on ' '$work/sim.out'" || fail "the simulated module did not start"
    addr="$(sed -n 's/^listening on //p' "$work/sim.out" | head -n1)"
}
