#!/usr/bin/env bash
# One command for a new user: install what is missing, build, start the simulated
# module on loopback, and run the station against it from a work directory.
# Without a display the station runs under Xvfb for a few seconds and a screenshot
# is saved instead.
#   scripts/run-station.sh [--modules N] [--seconds N] [--screenshot FILE]
# --modules: a line of N simulated modules (1 to 8) on the one listener; the last two
# options only without a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=8
shot=""
modules=1
while [ $# -gt 0 ]; do
    case "$1" in
        --modules) modules="$2"; shift 2 ;;
        --seconds) seconds="$2"; shift 2 ;;
        --screenshot) shot="$2"; shift 2 ;;
        *) echo "usage: $0 [--modules N] [--seconds N] [--screenshot FILE]" >&2; exit 2 ;;
    esac
done
case "$modules" in
    [1-8]) ;;
    *) echo "$0: --modules wants 1 to 8" >&2; exit 2 ;;
esac
ids="$(seq -s, 1 "$modules")"

"$root/scripts/install-deps.sh"
make -C "$root" build >/dev/null
bin="$root/build/src/app/vormelq"
sim="$root/build/tools/sim/vormelq-sim"

work="$root/work"
mkdir -p "$work"
cd "$work"

simout="$work/sim.out"
# Final weights spread around the theoretical weight, two cycles forced out of the
# 0.5 % tolerance below: Dosificaciones.csv and the window show OK, Falta and Exceso.
"$sim" --listen 127.0.0.1:0 --ids "$ids" --decimals 1 --auto-cycle \
    --seed 7 --spread 3 --force 2:-12,3:+15 >"$simout" 2>"$work/sim.err" &
simpid=$!
trap 'kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    grep -q '^listening on ' "$simout" 2>/dev/null && break
    sleep 0.05
done
addr="$(sed -n 's/^listening on //p' "$simout" | head -n1)"
[ -n "$addr" ] || { echo "the simulated module did not start:" >&2; cat "$work/sim.err" >&2; exit 1; }
host="${addr%:*}"
port="${addr##*:}"

# Every stored value carries one extra trailing character, which the station drops.
cat >modbus.ini <<INI
[Global]
Comunicacion_1=1;
Host_1=$host;
Port_1=$port;
Decimales_1=1;
ID_1=1;
Timer=500;
Tolerancia_1=0.5;
INI
if [ "$modules" -gt 1 ]; then
    echo "Modulos=$modules;" >>modbus.ini
    for n in $(seq 2 "$modules"); do echo "ID_$n=$n;" >>modbus.ini; done
fi
# Products in the simulated module's range; Harina is what module 1 holds at start, and
# Avena and Centeno what modules 2 and 3 of a line hold, so each shows its product in
# force, and applying another shows the module take it.
printf 'nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\nHarina;2,0;80,0;98,0;100,0;5;0,5\r\nSal;1,0;40,0;48,0;50,0;5;\r\nAz\303\272car;1,5;60,0;73,0;75,0;5;1\r\nAvena;2,0;100,0;122,5;125,0;5;0,5\r\nCenteno;2,0;120,0;147,0;150,0;5;0,5\r\n' >Productos.csv
echo "simulated module on $host:$port; station working in $work (Peso.csv and Dosificaciones.csv are written here)"

# A broker of its own on loopback, when Debian's mosquitto is there: the station
# publishes to it as it would to the plant's.
brokerpid=""
if [ -x /usr/sbin/mosquitto ]; then
    mqttport="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    cat >"$work/mosquitto.conf" <<CONF
listener $mqttport 127.0.0.1
allow_anonymous true
persistence false
log_dest file $work/mosquitto.log
CONF
    # Started as root it would become the user "mosquitto"; it stays whoever runs this.
    echo "user $(id -un)" >>"$work/mosquitto.conf"
    /usr/sbin/mosquitto -c "$work/mosquitto.conf" &
    brokerpid=$!
    trap 'kill "$simpid" $brokerpid 2>/dev/null || true; wait 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $mqttport), 0.2)" 2>/dev/null && break
        sleep 0.05
    done
    cat >>modbus.ini <<INI
[MQTT]
Servidor=127.0.0.1;
Puerto=$mqttport;
Tema=vormelq/demo;
INI
    echo "broker on 127.0.0.1:$mqttport; to watch the station's messages:"
    echo "    mosquitto_sub -h 127.0.0.1 -p $mqttport -t 'vormelq/demo/#' -v"
fi

if [ -n "${DISPLAY:-}" ]; then
    "$bin"
else
    shot="${shot:-$work/station.png}"
    xvfb-run -a -s "-screen 0 1024x900x24" bash -c '
        "$1" & pid=$!
        sleep "$2"
        win=$(xdotool search --sync --onlyvisible --name "^Vormel-Q" 2>/dev/null | head -n1)
        import -window "${win:-root}" "$3" || true
        kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    ' _ "$bin" "$seconds" "$shot"
    echo "no display: the station ran for ${seconds}s under Xvfb; screenshot saved to $shot"
    # A record not written yet (no dose finished in those seconds) counts 0 lines.
    count() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
    for n in $(seq 1 "$modules"); do
        folder=""
        [ "$n" -gt 1 ] && folder="Modulo$n/"
        [ "$modules" -gt 1 ] && echo "module $n:"
        echo "log lines written: $(count "${folder}Peso.csv")"
        echo "dosing cycles recorded: $(count "${folder}Dosificaciones.csv")"
    done
fi
