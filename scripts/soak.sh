#!/usr/bin/env bash
# Soak: the real station against the simulated module for a long run with random
# faults on the line, then a count of what was lost.
#   scripts/soak.sh [--minutes N] [--serial] [--report FILE]
#
# The module misbehaves at random on every request (no reply, wrong CRC, a byte too
# many, reply in pieces, exception reply, stale bytes), is switched off for
# a few seconds now and then, and is restarted every minute or so: over TCP that is the
# connection closed by the module (sometimes also after a random number of requests),
# over a pty it is the serial device vanishing and coming back, as a USB adapter pulled
# out and plugged in again. Under Xvfb an operator types setpoints and commands into
# the window meanwhile, and every "Error" box is answered.
#
# At the end the module is silenced, the station left to finish what it had in hand,
# and the report compares the weight-block readings the module served with the lines
# in Peso.csv: every reading must be exactly one line. Meanwhile Peso.csv is made
# unwritable for a while, now and then, and the station is stopped with SIGTERM and
# started again (at least once, while lines are pending). Memory (VmRSS) is sampled every
# few seconds; "start" is the first sample after a 30 s warm-up.
# Late replies are left to the fault matrix tests: a reply that comes after its
# deadline can still be taken by a retry of the same request, which the module cannot
# know, so no count from its side could be exact.
# BUILD=dir picks the build directory (default: build); SOAK_SEED makes a run repeatable.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
minutes=10
serial=0
report="$root/docs/reliability.md"
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) minutes="$2"; shift 2 ;;
        --serial) serial=1; shift ;;
        --report) report="$2"; shift 2 ;;
        *) echo "usage: $0 [--minutes N] [--serial] [--report FILE]" >&2; exit 2 ;;
    esac
done

build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
make -C "$root" build BUILD="$build" >/dev/null
bin="$build/src/app/vormelq"
simbin="$build/tools/sim/vormelq-sim"
RANDOM=${SOAK_SEED:-$$}

work="$(mktemp -d /tmp/vormelq-soak.XXXXXX)"
cd "$work"
echo "soak: ${minutes} min, $([ $serial = 1 ] && echo "serial pty" || echo TCP), work dir $work"

simpid=""
stationpid=""
xvfbpid=""
cleanup() {
    for pid in $stationpid $simpid $xvfbpid; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

declare -A total=()
restarts=0
silences=0
error_boxes=0
typed=0
segment=0
port=""

# The last counters line the running simulator printed, freshly asked for.
sim_counters() {
    local out="$work/sim.$segment.out" before
    before=$(grep -c '^counters:' "$out" || true)
    kill -USR1 "$simpid"
    for _ in $(seq 100); do
        [ "$(grep -c '^counters:' "$out" || true)" -gt "$before" ] && break
        sleep 0.05
    done
    grep '^counters:' "$out" | tail -n1
}

counter() { # counter LINE KEY
    sed -n "s/.* $2=\([0-9]*\).*/\1/p" <<<"$1"
}

# Switches the module off or on again and waits until it says so: two signals sent
# close together would otherwise merge into one and leave it in the wrong state.
toggle_module() {
    local out="$work/sim.$segment.out" before
    before=$(grep -cE '^module (on|off)$' "$out" || true)
    kill -USR2 "$simpid"
    for _ in $(seq 100); do
        [ "$(grep -cE '^module (on|off)$' "$out" || true)" -gt "$before" ] && return 0
        sleep 0.05
    done
}

# Switches the module off and waits until a whole block read (three attempts) has gone
# unanswered: the station then has nothing of the module's in flight any more.
silence_and_settle() {
    local before now
    toggle_module
    before=$(counter "$(sim_counters)" faults.silent)
    for _ in $(seq 300); do
        sleep 0.5
        now=$(counter "$(sim_counters)" faults.silent)
        [ "$now" -ge $((before + 3)) ] && return 0
    done
    echo "soak: the station sent nothing to a silent module for 150 s" >&2
}

start_sim() {
    segment=$((segment + 1))
    local out="$work/sim.$segment.out" args
    args=(--slave 1 --decimals 1 --auto-cycle --random-start "$RANDOM"
          --drop 0.01 --bad-crc 0.01 --extra-byte 0.01 --split 0.02
          --exception 0.01 --stale 0.01)
    if [ $serial = 1 ]; then
        args+=(--pty "$work/module")
    else
        args+=(--listen "127.0.0.1:${port:-0}")
        # One segment in three: the module also drops the connection every few hundred
        # requests.
        [ $((RANDOM % 3)) = 0 ] && args+=(--close-after $((100 + RANDOM % 900)))
    fi
    "$simbin" "${args[@]}" >"$out" 2>"$work/sim.$segment.err" &
    simpid=$!
    for _ in $(seq 200); do
        grep -qE '^(listening|serving) on ' "$out" 2>/dev/null && break
        sleep 0.05
    done
    if [ -z "$port" ] && [ $serial = 0 ]; then
        port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out" | head -n1)"
    fi
    grep -qE '^(listening|serving) on ' "$out" ||
        { echo "soak: the simulated module did not start:" >&2; cat "$work/sim.$segment.err" >&2; exit 1; }
}

# Stops the simulator (switched off first, so nothing is on the wire) and adds its
# counters to the totals.
stop_sim() {
    silence_and_settle
    kill -TERM "$simpid"
    wait "$simpid" 2>/dev/null || true
    local line key value
    line="$(grep '^counters:' "$work/sim.$segment.out" | tail -n1)"
    for pair in ${line#counters:}; do
        key="${pair%%=*}"
        value="${pair#*=}"
        total[$key]=$(( ${total[$key]:-0} + value ))
    done
    simpid=""
}

rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$stationpid/status"; }
cpu_ticks() { # utime + stime, the fields after the command name in parentheses
    local stat
    stat="$(cat "/proc/$stationpid/stat")"
    stat="${stat##*) }"
    read -r -a f <<<"$stat"
    echo $(( f[11] + f[12] ))
}

# The log cannot be written for a while: a directory stands in Peso.csv's place (the
# station stands still during each swap, so no append falls between two renames).
# Lines go to the pending file meanwhile and into Peso.csv once it is back.
swap_log() { # swap_log block|release
    kill -STOP "$stationpid"
    if [ "$1" = block ]; then
        [ -f Peso.csv ] && mv Peso.csv Peso.keep
        mkdir Peso.csv
    else
        rmdir Peso.csv
        [ -f Peso.keep ] && mv Peso.keep Peso.csv
    fi
    kill -CONT "$stationpid"
}

start_station() {
    "$bin" >>"$work/station.out" 2>>"$work/station.err" &
    stationpid=$!
}

# The station stopped as systemctl would (SIGTERM) while the log is blocked and lines
# are pending, then started again. The module is silent meanwhile, so no reading it
# served is in flight when the station goes.
restart_station() {
    local rc=0
    silence_and_settle
    ticks_done=$((ticks_done + $(cpu_ticks) - start_ticks))
    kill -TERM "$stationpid"
    wait "$stationpid" || rc=$?
    [ "$rc" = 0 ] || { echo "soak: the station ended with status $rc on SIGTERM" >&2; exit 1; }
    [ -s Peso.pendiente.csv ] && pending_at_stop=$((pending_at_stop + $(grep -c . Peso.pendiente.csv)))
    start_station
    start_ticks=$(cpu_ticks)
    stops=$((stops + 1))
    toggle_module
}

# Under Xvfb an operator types now and then; an "Error" box (a write the module never
# answered) is answered with Enter first.
operator_acts() {
    [ -n "$xvfbpid" ] || return 0
    local win box windows
    # The box carries the window's title; it is the second visible window of that name.
    windows="$(xdotool search --onlyvisible --name '^Vormel-Q$' 2>/dev/null || true)"
    win="$(head -n1 <<<"$windows")"
    box="$(sed -n 2p <<<"$windows")"
    if [ -n "$box" ]; then
        xdotool windowfocus "$box" key Return 2>/dev/null && error_boxes=$((error_boxes + 1))
        return 0
    fi
    [ -n "$win" ] || return 0
    if [ $((RANDOM % 2)) = 0 ]; then
        # txtTeor and its arrow button: a new theoretical weight (two registers)
        # (type takes every argument after it as text: the click is a command of its own)
        xdotool windowfocus "$win" mousemove --window "$win" 430 651 click 1 key ctrl+a \
            type "$((RANDOM % 5000))" 2>/dev/null || return 0
        xdotool mousemove --window "$win" 480 648 click 1 2>/dev/null || return 0
    else
        # txtComando and "Enviar": start or stop the dosing cycle
        xdotool windowfocus "$win" mousemove --window "$win" 358 483 click 1 key ctrl+a \
            type "$((1 + RANDOM % 2))" 2>/dev/null || return 0
        xdotool mousemove --window "$win" 444 484 click 1 2>/dev/null || return 0
    fi
    typed=$((typed + 1))
}

start_sim
if [ $serial = 1 ]; then
    link_keys="Comunicacion_1=0;
Comm_1=$work/module;
Baudios_1=115200;"
else
    link_keys="Comunicacion_1=1;
Host_1=127.0.0.1;
Port_1=$port;"
fi
# Every stored value carries one extra trailing character, which the station drops.
cat >modbus.ini <<INI
[Global]
$link_keys
Decimales_1=1;
ID_1=1;
Timer=100;
INI

if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 800x760x24 -nolisten tcp -noreset 2>"$work/xvfb.err" &
    xvfbpid=$!
    exec 3>&-
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(cat "$work/display")"
    unset QT_QPA_PLATFORM
else
    export QT_QPA_PLATFORM=offscreen
fi
start_station
ticks_done=0
stops=0
log_blocks=0
pending_at_stop=0

began=$SECONDS
deadline=$((SECONDS + minutes * 60))
start_ticks=$(cpu_ticks)
rss_start=""
rss_peak=0
samples="$work/rss.txt"
while [ $SECONDS -lt $deadline ]; do
    segment_end=$((SECONDS + 45 + RANDOM % 60))
    while [ $SECONDS -lt $segment_end ] && [ $SECONDS -lt $deadline ]; do
        sleep 5
        kill -0 "$stationpid" 2>/dev/null || { echo "soak: the station died" >&2; exit 1; }
        rss=$(rss_kb)
        echo "$((SECONDS - began)) $rss" >>"$samples"
        [ "$rss" -gt "$rss_peak" ] && rss_peak=$rss
        [ -z "$rss_start" ] && [ $((SECONDS - began)) -ge 30 ] && rss_start=$rss
        operator_acts
        if [ $log_blocks = 0 ] || [ $((RANDOM % 10)) = 0 ]; then
            # Peso.csv unwritable for 10 to 30 s; the first time, and now and then,
            # the station is also stopped and started again meanwhile.
            swap_log block
            log_blocks=$((log_blocks + 1))
            sleep $((5 + RANDOM % 15))
            if [ $stops = 0 ] || [ $((RANDOM % 2)) = 0 ]; then restart_station; fi
            sleep $((5 + RANDOM % 15))
            swap_log release
        fi
        if [ $((RANDOM % 8)) = 0 ]; then
            # The module switched off for a few seconds.
            toggle_module
            sleep $((2 + RANDOM % 6))
            toggle_module
            silences=$((silences + 1))
        fi
    done
    if [ $SECONDS -lt $deadline ]; then
        stop_sim
        restarts=$((restarts + 1))
        start_sim
    fi
done

stop_sim
# Lines still pending from the last time the log was blocked go in at the station's
# next poll, which a silent module can hold up for a whole block read.
for _ in $(seq 300); do [ -s Peso.pendiente.csv ] || break; sleep 0.1; done
elapsed=$((SECONDS - began))
ticks=$(( ticks_done + $(cpu_ticks) - start_ticks ))
hz=$(getconf CLK_TCK)
rss_end=$(rss_kb)
alive=yes
kill -0 "$stationpid" 2>/dev/null || alive=no
lines=$(grep -c . Peso.csv 2>/dev/null) || lines=0
served=${total[reads.weight]:-0}
lost=$((served - lines))
cpu_s=$(awk -v t="$ticks" -v hz="$hz" 'BEGIN { printf "%.1f", t / hz }')
cpu_pct=$(awk -v t="$ticks" -v hz="$hz" -v s="$elapsed" 'BEGIN { printf "%.1f", 100 * t / hz / s }')
faults=0
fault_rows=""
for kind in drop bad_crc extra_byte split exception stale close silent; do
    n=${total[faults.$kind]:-0}
    faults=$((faults + n))
    fault_rows+="| $kind | $n |"$'\n'
done

text="## Soak run

$(date -u '+%Y-%m-%d %H:%M UTC'), \`scripts/soak.sh --minutes $minutes$([ $serial = 1 ] && echo " --serial")\`,
link $([ $serial = 1 ] && echo "serial pty at 115200 baud" || echo "TCP on loopback"), poll timer 100 ms,
release build, $([ -n "$xvfbpid" ] && echo "under Xvfb with an operator typing" || echo "offscreen").

| Figure | Value |
|---|---|
| duration | ${elapsed} s |
| poll cycles (display reads served) | ${total[reads.display]:-0} |
| requests to the module | ${total[requests]:-0} |
| faults injected | $faults |
| module restarts ($([ $serial = 1 ] && echo "device vanished and came back" || echo "connection closed, module back")) | $restarts |
| module switched off for a few seconds | $silences |
| connections accepted | ${total[connections]:-0} |
| operator writes served | ${total[writes]:-0} (typed $typed, \"Error\" boxes answered $error_boxes) |
| Peso.csv unwritable for 10 to 30 s | $log_blocks times |
| station stopped with SIGTERM and started again | $stops times (status 0 each time; $pending_at_stop lines pending at the stops) |
| weight readings served | $served |
| lines in Peso.csv | $lines |
| **lines lost** | **$lost** |
| memory (VmRSS) at 30 s / peak / end | ${rss_start:-?} kB / $rss_peak kB / $rss_end kB |
| CPU used by the station | ${cpu_s} s ($cpu_pct % of one core) |
| station still running at the end | $alive |

Faults by kind (requests affected):

| Fault | Count |
|---|---|
${fault_rows}"
echo
echo "$text"
if [ -n "$report" ]; then
    {
        echo "# Reliability"
        echo
        echo "$text"
    } >"$report"
    echo "report written to $report"
fi
[ "$lost" = 0 ] && [ "$alive" = yes ]
