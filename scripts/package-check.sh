#!/usr/bin/env bash
# The Debian packages as a plant's IT department and a desktop user meet them: lintian on
# both, then a fresh, minimal Debian 12 (the required and important packages, as
# debootstrap lays them down) booted with its own systemd in systemd-nspawn, and there:
#   - apt install ./vormelq-servicio_*.deb, counting what it brings in (at most 30): the
#     unit verifies, the user and the folder of the lines are there;
#   - a line of two simulated modules and a loopback broker, the line's folder and
#     modbus.ini made as docs/plant-it.md says, `systemctl enable --now vormelq@linea1`:
#     its status, the folder and modbus.ini kept from other accounts, a module switched
#     off and `journalctl -p warning` saying exactly that, a modbus.ini every account may
#     read said at warning priority;
#   - a kill and a frozen main thread (the watchdog), each followed by a new process;
#     `systemctl stop` (status 0); a reboot of the container, after which it runs again;
#   - an upgrade to a newer package with the broker away: the instance stopped and
#     started again, and once the broker is back every reading of Peso.csv delivered
#     once, seq unbroken since the outage;
#   - the purge, after which the records are still there; then the desktop's packages
#     installed: the window (offscreen), an offline command, the menu entry, `vormelq
#     --servicio`; both purged, nothing of them left in /usr.
#   scripts/package-check.sh ./vormelq-servicio_VERSION_ARCH.deb ./vormelq_VERSION_ARCH.deb
# Needs root, mmdebstrap and systemd-container (scripts/install-deps.sh installs them). The
# container shares this machine's network (apt reaches Debian's archive); its peers listen
# on free loopback ports. The base system is built once into /var/cache/vormelq-fresh and
# the downloaded .debs are kept there between runs, never an installed package.
set -euo pipefail
service_deb="$(realpath "$1")"
window_deb="$(realpath "$2")"
fail() { echo "package-check.sh: FAIL: $*" >&2; exit 1; }
say() { echo "package-check.sh: $*"; }
[ "$(id -u)" = 0 ] || { echo "package-check.sh: needs root" >&2; exit 2; }

lintian --fail-on error,warning "$service_deb" "$window_deb" 2>/dev/null ||
    fail "lintian has something to say against the packages"
say "lintian: nothing against $(basename "$service_deb") and $(basename "$window_deb")"

cache=/var/cache/vormelq-fresh
base="$cache/bookworm-boot.tar"
mkdir -p "$cache/archives/partial"
if [ ! -s "$base" ]; then
    say "building the bootable base system once"
    mmdebstrap --quiet --variant=important --include=systemd-sysv bookworm "$base.part.tar"
    mv "$base.part.tar" "$base"
fi
root="$(mktemp -d /tmp/vormelq-boot.XXXXXX)"
log="$root.console"
nspawn=""
stop_container() {
    [ -n "$nspawn" ] || return 0
    kill "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
    nspawn=""
}
cleanup() {
    stop_container
    rm -rf --one-file-system "$root" "$log"
}
trap cleanup EXIT
tar -C "$root" -xf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$service_deb" "$window_deb" "$root/root/"
version="$(dpkg-deb -f "$service_deb" Version)"
# A newer package to upgrade to: the same files under a higher version.
newer="$root/root/vormelq-servicio_${version}+1_$(dpkg-deb -f "$service_deb" Architecture).deb"
dpkg-deb -R "$service_deb" "$root/newer"
sed -i "s/^Version: .*/Version: ${version}+1/" "$root/newer/DEBIAN/control"
dpkg-deb -b "$root/newer" "$newer" >/dev/null
rm -rf "$root/newer"

pid1=""
boot() {
    systemd-nspawn --register=no --keep-unit --timezone=off --console=pipe -D "$root" -b \
        --bind="$cache/archives:/var/cache/apt/archives" >>"$log" 2>&1 &
    nspawn=$!
    pid1=""
    for _ in $(seq 300); do
        pid1="$(pgrep -P "$nspawn" -x systemd || true)"
        if [ -n "$pid1" ]; then
            case "$(ct systemctl is-system-running --wait 2>/dev/null || true)" in
                running) return 0 ;;
                degraded) fail "the container's boot: $(ct systemctl --failed --no-legend)" ;;
            esac
        fi
        sleep 0.2
    done
    fail "the container did not boot: $(tail -n 20 "$log")"
}
# A command in the container, with its own clean environment.
ct() {
    nsenter -t "$pid1" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
# Waits for a condition in the container; the limit only keeps a broken package from
# hanging CI.
until_in() {
    local what="$1"
    shift
    for _ in $(seq 600); do ct sh -c "$*" >/dev/null 2>&1 && return 0; sleep 0.5; done
    fail "$what"
}
free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

boot
say "booted a fresh Debian 12 ($(ct sh -c 'dpkg -l | grep -c ^ii') packages) with systemd $(ct systemctl --version | sed -n '1s/systemd \([0-9]*\).*/\1/p')"
ct apt-get update -qq
ct sh -c "cd /root && apt-get install -y ./$(basename "$service_deb")" >"$root.apt" 2>&1 ||
    fail "apt install: $(tail -n 20 "$root.apt")"
count="$(sed -n 's/.* \([0-9]*\) newly installed.*/\1/p' "$root.apt")"
size="$(sed -n 's/^After this operation, \(.*\) of additional disk space.*/\1/p' "$root.apt")"
rm -f "$root.apt"
say "apt install ./$(basename "$service_deb") brought in $count packages, $size"
[ "$count" -le 30 ] || fail "$count packages for the service"
! ct sh -c 'dpkg -l | grep -E "^ii +(libqt6gui6|libqt6widgets6|libx11-6|libgl1) "' ||
    fail "the service's package brought in a graphical library"
# The unit as systemd reads it (the minimal system has no man to open its manual page
# with: the page is looked for instead), the user with no home and no login, the lines'
# folder.
ct systemd-analyze verify --man=no /lib/systemd/system/vormelq@.service ||
    fail "systemd-analyze verify"
ct test -f /usr/share/man/man8/vormelq-servicio.8.gz || fail "no manual page vormelq-servicio(8)"
IFS=: read -r _ _ _ _ _ home shell < <(ct getent passwd vormelq) || fail "no user vormelq"
[ "$home" = /nonexistent ] && [[ $shell == */nologin ]] && ! ct test -e "$home" ||
    fail "user vormelq has home $home, shell $shell"
[ "$(ct stat -c %U:%a /var/lib/vormelq)" = root:755 ] || fail "/var/lib/vormelq: $(ct stat -c %U:%a /var/lib/vormelq)"

# The peers, on free loopback ports: a broker (configured before its package starts it)
# and two simulated modules, the second switched off and on by SIGUSR2.
broker_port="$(free_port)"
module_port="$(free_port)"
ct mkdir -p /etc/mosquitto/conf.d
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$broker_port" >"$root/etc/mosquitto/conf.d/prueba.conf"
ct apt-get install -y -qq --no-install-recommends mosquitto mosquitto-clients >/dev/null
dpkg-deb -x "$window_deb" "$root/opt/ventana"
start_modules() {
    ct systemd-run -q --unit=modulos /opt/ventana/usr/bin/vormelq-sim \
        --listen "127.0.0.1:$module_port" --ids 1,2 --toggle 2 --auto-cycle --decimals 1
}
# A historian with a durable session, as docs/records.md's mosquitto_sub, back whenever
# the broker is.
start_historian() {
    ct systemd-run -q --unit=historiador -p Restart=always -p RestartSec=1 sh -c \
        "exec mosquitto_sub -h 127.0.0.1 -p $broker_port -q 1 -c -i historiador \
        -t planta/linea1/lectura >>/root/lecturas"
}
start_modules
start_historian

line=/var/lib/vormelq/linea1
printf '[Global]\r\nModulos=2;\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=%s;\r\nDecimales_1=1;\r\nID_1=1;\r\nNombre_1=Tolva norte;\r\nID_2=2;\r\nNombre_2=Silo 2;\r\nTimer=200;\r\n[MQTT]\r\nServidor=127.0.0.1;\r\nPuerto=%s;\r\nUsuario=linea1;\r\nClave=secreta;\r\nTema=planta/linea1;\r\n' \
    "$module_port" "$broker_port" >"$root/root/modbus.ini"
# As docs/plant-it.md has it.
ct install -d -m 0750 -g vormelq "$line"
ct install -m 0640 -g vormelq /root/modbus.ini "$line/"
# A moment of the container's clock, for what the journal says after it (journalctl 252
# gives nothing for -p with --after-cursor).
now() { ct date +@%s.%6N; }
warnings_since() { ct journalctl -q -u vormelq@linea1 -p warning -o cat --since "$1"; }
status() { ct systemctl show -p StatusText --value vormelq@linea1; }
show() { ct systemctl show -p "$1" --value vormelq@linea1; }
mark="$(now)"
ct systemctl enable -q --now vormelq@linea1
until_in "the service is not ready" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "^2 módulos, 0 sin comunicación; MQTT conectado"'
until_in "no readings in $line/Peso.csv" "[ \$(wc -l <$line/Peso.csv) -ge 5 ]"
say "enabled and started: $(status)"
ct systemctl status --no-pager vormelq@linea1 | sed -n '1,6s/^/    /p'
[ "$(ct stat -c %U:%G:%a "$line")" = vormelq:vormelq:750 ] || fail "$line is $(ct stat -c %U:%G:%a "$line")"
for file in modbus.ini Peso.csv; do
    ! ct setpriv --reuid=nobody --regid=nogroup --clear-groups cat "$line/$file" >/dev/null 2>&1 ||
        fail "another account reads $line/$file"
done
say "$line is vormelq's (0750): another account reads neither modbus.ini nor Peso.csv"
[ -z "$(warnings_since "$mark")" ] || fail "warnings at a good start: $(warnings_since "$mark")"

mark="$(now)"
ct systemctl kill -q -s SIGUSR2 modulos
until_in "no status for the silent module" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "^2 módulos, 1 sin comunicación"'
until_in "the silent module not said" "journalctl -q -u vormelq@linea1 -p warning -o cat --since $mark | grep -q ."
said="$(warnings_since "$mark")"
[ "$said" = "Silo 2: ERROR: No hay comunicación con el módulo" ] || fail "journalctl -p warning: $said"
say "module 2 switched off: the status says '$(status)'; journalctl -u vormelq@linea1 -p warning:"
echo "    $said"
ct systemctl kill -q -s SIGUSR2 modulos
until_in "module 2 not back" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "^2 módulos, 0 sin comunicación"'

ct chmod 0644 "$line/modbus.ini"
mark="$(now)"
ct systemctl restart vormelq@linea1
said="$(warnings_since "$mark")"
[[ $said == "modbus.ini guarda la Clave del servidor MQTT y cualquier cuenta del equipo puede leerlo (permisos 0644)"* ]] ||
    fail "a modbus.ini every account reads, not said: $said"
say "a modbus.ini of 0644 holding Clave, at warning priority: $said"
ct chmod 0640 "$line/modbus.ini"
mark="$(now)"
ct systemctl restart vormelq@linea1
until_in "not started again" 'systemctl is-active -q vormelq@linea1'
[ -z "$(warnings_since "$mark")" ] || fail "said with 0640: $(warnings_since "$mark")"

restarts="$(show NRestarts)"
pid="$(show MainPID)"
ct kill -KILL "$pid"
until_in "not restarted after a kill" "[ \$(systemctl show -p NRestarts --value vormelq@linea1) -gt $restarts ] && systemctl is-active -q vormelq@linea1"
say "killed: systemd started it again, process $pid -> $(show MainPID)"

# The main thread held still by a tracer on this side (the link's workers go on): no more
# pings, and the watchdog ends the process.
pid="$(show MainPID)"
ns="$(readlink "/proc/$pid1/ns/pid")"
host_pid=""
for p in /proc/[0-9]*; do
    [ "$(readlink "$p/ns/pid" 2>/dev/null)" = "$ns" ] || continue
    [ "$(awk '/^NSpid:/ {print $NF}' "$p/status" 2>/dev/null)" = "$pid" ] && host_pid="${p#/proc/}" && break
done
[ -n "$host_pid" ] || fail "process $pid not found from here"
restarts="$(show NRestarts)"
mark="$(now)"
/usr/bin/python3 - "$host_pid" <<'EOF' &
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
PTRACE_SEIZE, PTRACE_INTERRUPT, WALL = 0x4206, 0x4207, 0x40000000
tid = int(sys.argv[1])
for request in (PTRACE_SEIZE, PTRACE_INTERRUPT):
    if libc.ptrace(request, tid, None, None) != 0:
        sys.exit("ptrace: " + os.strerror(ctypes.get_errno()))
# Held until the process is gone; a signal meant for the thread is never let through.
while True:
    _, status = os.waitpid(tid, WALL)
    if os.WIFEXITED(status) or os.WIFSIGNALED(status):
        break
EOF
freezer=$!
until_in "the watchdog did not replace a frozen process" "[ \$(systemctl show -p NRestarts --value vormelq@linea1) -gt $restarts ] && systemctl is-active -q vormelq@linea1"
wait "$freezer" || true
ct journalctl -q -u vormelq@linea1 -o cat --since "$mark" | grep -q 'Watchdog timeout' ||
    fail "no watchdog timeout in the journal"
say "main thread frozen: the watchdog ended it and systemd started it again, process $pid -> $(show MainPID)"

ct systemctl stop vormelq@linea1
[ "$(show Result):$(show ExecMainStatus)" = success:0 ] || fail "stop: $(show Result) $(show ExecMainStatus)"
say "systemctl stop: status 0"

# As `systemctl reboot`, without asking logind (the minimal system has no D-Bus).
ct systemctl start --job-mode=replace-irreversibly --no-block reboot.target
wait "$nspawn" || true
nspawn=""
boot
start_modules
start_historian
until_in "not started at boot" 'systemctl is-active -q vormelq@linea1'
[[ " $(show After) " == *" network-online.target "* ]] || fail "not ordered after network-online.target"
until_in "not polling after the reboot" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "^2 módulos, 0 sin comunicación; MQTT conectado"'
say "rebooted: started at boot after network-online.target, $(status)"

# The upgrade while the broker is away: what it did not take waits in the outbox across the
# stop and start the upgrade makes.
seq_of() { sed -n 's/.*"seq":\([0-9]*\).*/\1/p'; }
until_in "no reading delivered" '[ -s /root/lecturas ]'
before="$(ct cat /root/lecturas | seq_of | sort -n | tail -n1)"
ct systemctl stop mosquitto
until_in "the broker's absence not in the status" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "MQTT sin conexión, [1-9][0-9]* pendientes"'
stops="$(ct journalctl -q -u vormelq@linea1 -o cat | grep -c '^servicio detenido$' || true)"
pid="$(show MainPID)"
ct sh -c "cd /root && apt-get install -y -qq ./$(basename "$newer")" >/dev/null
ct dpkg-query -W -f='${Version}' vormelq-servicio | grep -qx "${version}+1" || fail "not upgraded"
[ "$(ct journalctl -q -u vormelq@linea1 -o cat | grep -c '^servicio detenido$')" -gt "$stops" ] ||
    fail "the upgrade did not stop the service as systemctl stop does"
until_in "not started again after the upgrade" 'systemctl is-active -q vormelq@linea1'
[ "$(show MainPID)" != "$pid" ] || fail "the upgrade left the old process running"
say "upgraded to ${version}+1 with the broker away: stopped cleanly, started again ($(status))"
ct systemctl start mosquitto
# The modules off, no reading comes: once the outbox is empty, Peso.csv is whole.
ct systemctl stop modulos
until_in "the outbox not drained" 'systemctl show -p StatusText --value vormelq@linea1 | grep -q "^2 módulos, 2 sin comunicación; MQTT conectado, 0 pendientes"'
ct systemctl stop vormelq@linea1
lines="$(wc -l <"$root$line/Peso.csv")"
until_in "readings not delivered" "[ \$(sed -n 's/.*\"seq\":\([0-9]*\).*/\1/p' /root/lecturas | sort -un | wc -l) -ge $lines ]"
ct cat /root/lecturas | /usr/bin/python3 -c '
import json, sys
lines, before = int(sys.argv[1]), int(sys.argv[2])
by_seq = {}
for text in sys.stdin:
    seq = json.loads(text)["seq"]
    if by_seq.setdefault(seq, text) != text:
        sys.exit(f"seq {seq}: two readings")
seqs = sorted(by_seq)
gaps = sorted(set(range(1, seqs[-1] + 1)) - set(seqs))
if len(seqs) != lines:
    sys.exit(f"{len(seqs)} readings delivered for {lines} lines of Peso.csv")
if [g for g in gaps if g > before]:
    sys.exit(f"seq broken since the outage at {[g for g in gaps if g > before]}")
print(f"package-check.sh: {lines} lines in Peso.csv, {len(seqs)} readings delivered once each, "
      f"seq unbroken after {before} (given to no reading, around the kill and the watchdog: {gaps})")
' "$lines" "$before" || fail "the broker's readings"

ct apt-get purge -y -qq vormelq-servicio >/dev/null
[ "$(wc -l <"$root$line/Peso.csv")" = "$lines" ] || fail "the purge touched Peso.csv"
ct test -f "$line/modbus.ini" -a -d "$line/Modulo2" -a -d "$line/MQTT.pendiente" || fail "the purge took records"
say "purged: $line and its records stay ($lines lines in Peso.csv)"

# The desktop's packages.
ct sh -c "cd /root && apt-get install -y ./$(basename "$service_deb") ./$(basename "$window_deb")" >"$root.apt" 2>&1 ||
    fail "apt install of both: $(tail -n 20 "$root.apt")"
say "apt install of both brought in $(sed -n 's/.* \([0-9]*\) newly installed.*/\1/p' "$root.apt") packages"
rm -f "$root.apt"
ct test -f /usr/share/applications/vormelq.desktop || fail "no menu entry"
start_modules
ct sh -c 'vormelq --version && vormelq-servicio --version && vormelq-sim --version' | sed 's/^/    /'
ct mkdir -p /root/puesto /srv/servicio
grep -v -e '^Servidor' -e '^Clave' -e '^Usuario' "$root/root/modbus.ini" >"$root/root/puesto/modbus.ini"
cp "$root/root/puesto/modbus.ini" "$root/srv/servicio/modbus.ini"
ct chown -R vormelq:vormelq /srv/servicio
ct systemd-run -q --unit=ventana -p WorkingDirectory=/root/puesto -E QT_QPA_PLATFORM=offscreen vormelq
ct systemd-run -q --unit=sinventana -p WorkingDirectory=/srv/servicio -p User=vormelq vormelq --servicio
until_in "the window station logged nothing" '[ -s /root/puesto/Peso.csv ] && [ $(wc -l </root/puesto/Peso.csv) -ge 5 ]'
until_in "vormelq --servicio logged nothing" '[ -s /srv/servicio/Peso.csv ] && [ $(wc -l </srv/servicio/Peso.csv) -ge 5 ]'
ct systemctl stop ventana sinventana
ct sh -c 'cd /root/puesto && vormelq --plot Peso.csv -o peso.png && test -s peso.png' || fail "vormelq --plot"
say "the window (offscreen) and vormelq --servicio logged the modules; vormelq --plot drew the window's log"
files="$(ct dpkg -L vormelq vormelq-servicio | grep '^/usr/')"
ct apt-get purge -y -qq vormelq vormelq-servicio >/dev/null
left="$(for f in $files; do [ -f "$root$f" ] && echo "$f"; done; ct find /usr -iname '*vormelq*')"
[ -z "$left" ] || fail "left behind after the purge: $left"
ct test -f "$line/Peso.csv" || fail "the purge took $line"
say "both purged: nothing of them left in /usr; $line still there"
stop_container
say "all checks passed"
