#!/usr/bin/env bash
# Installs the Debian packages as a plant's IT department would, on a machine that has
# nothing else of ours (scripts/fresh-system.sh makes one), and uses it: the service's
# unit, user and folder are in place and the unit verifies; the installed station reads
# a modbus.ini and logs the simulated module's readings to Peso.csv, and so does the
# service, as its user, with no display at all. Then removes it and checks that nothing
# of it is left in /usr.
#   scripts/package-check.sh ./vormelq-servicio_VERSION_ARCH.deb ./vormelq_VERSION_ARCH.deb   (as root)
set -euo pipefail
debs=("$(realpath "$1")" "$(realpath "$2")")
fail() { echo "package-check.sh: FAIL: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${debs[@]}" >/dev/null
vormelq --version
vormelq-servicio --version
vormelq-sim --version
for page in man1/vormelq.1.gz man1/vormelq-sim.1.gz man8/vormelq-servicio.8.gz; do
    [ -f "/usr/share/man/$page" ] || fail "no manual page $page"
done
[ -f /usr/share/applications/vormelq.desktop ] || fail "desktop entry"

# The service: its unit, its user (no home, no login), its folder, and the unit as
# systemd reads it (systemd and man, for the unit's Documentation=, only for the check).
unit=/usr/lib/systemd/system/vormelq@.service
[ -f "$unit" ] || fail "no $unit"
IFS=: read -r _ _ _ _ _ home shell < <(getent passwd vormelq) || fail "no user vormelq"
[ "$home" = /nonexistent ] && [ ! -e "$home" ] && [[ $shell == */nologin ]] ||
    fail "user vormelq has home $home, shell $shell"
[ "$(stat -c %U:%a /var/lib/vormelq)" = root:755 ] || fail "/var/lib/vormelq: $(stat -c %U:%a /var/lib/vormelq)"
apt-get install -y -qq --no-install-recommends systemd man-db >/dev/null
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
echo "$unit verified; user vormelq and /var/lib/vormelq in place"

work="$(mktemp -d)"
cd "$work"
vormelq-sim --listen 127.0.0.1:0 --decimals 1 --auto-cycle >sim.out 2>sim.err &
sim=$!
for _ in $(seq 200); do grep -q '^listening on ' sim.out && break; sleep 0.05; done
addr="$(sed -n 's/^listening on //p' sim.out)"
[ -n "$addr" ] || fail "the installed simulator did not start: $(cat sim.err)"
printf '[Global]\r\nComunicacion_1=1;\r\nHost_1=%s;\r\nPort_1=%s;\r\nDecimales_1=1;\r\nID_1=1;\r\nTimer=100;\r\n' \
    "${addr%:*}" "${addr##*:}" >modbus.ini
# No display here: Qt's offscreen platform, which the package's plugins include.
QT_QPA_PLATFORM=offscreen vormelq 2>station.err &
station=$!
# The service as its user in a folder of its own, with no display and no platform.
svc=/var/lib/vormelq/prueba
install -d -o vormelq -g vormelq "$svc"
cp modbus.ini "$svc/"
(cd "$svc" && exec env -u DISPLAY -u QT_QPA_PLATFORM \
    setpriv --reuid=vormelq --regid=vormelq --init-groups vormelq-servicio) \
    2>service.err &
service=$!
logged() { if [ -f "$1/Peso.csv" ]; then wc -l <"$1/Peso.csv"; else echo 0; fi; }
for _ in $(seq 300); do
    [ "$(logged .)" -ge 5 ] && [ "$(logged "$svc")" -ge 5 ] && break
    sleep 0.1
done
lines="$(logged .)"
served="$(logged "$svc")"
kill "$station" "$service" 2>/dev/null || true
wait "$station" "$service" 2>/dev/null || true
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
[ "$lines" -ge 5 ] || fail "the installed station logged $lines lines: $(cat station.err)"
echo "installed station logged $lines readings, e.g. $(head -n1 Peso.csv)"
[ "$served" -ge 5 ] || fail "the service logged $served lines: $(cat service.err)"
grep -q '^vormelq: servicio detenido$' service.err || fail "the service did not stop cleanly: $(cat service.err)"
echo "the service as vormelq logged $served readings and said:"
sed 's/^/    /' service.err

files="$(dpkg -L vormelq vormelq-servicio | grep '^/usr/')"
apt-get remove -y -qq vormelq vormelq-servicio >/dev/null
left="$(for f in $files; do [ -f "$f" ] && echo "$f"; done; find /usr -iname '*vormelq*')"
[ -z "$left" ] || fail "left behind after apt remove: $left"
echo "apt remove vormelq vormelq-servicio left nothing in /usr"
