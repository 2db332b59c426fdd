#!/usr/bin/env bash
# Installs the Debian package as a plant's IT department would, on a machine that has
# nothing else of ours (scripts/fresh-system.sh makes one), and uses it: the installed
# station reads a modbus.ini and logs the simulated module's readings to Peso.csv. Then
# removes it and checks that nothing of it is left in /usr.
#   scripts/package-check.sh ./vormelq_VERSION_ARCH.deb      (as root)
set -euo pipefail
deb="$(realpath "$1")"
fail() { echo "package-check.sh: FAIL: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "$deb" >/dev/null
vormelq --version
vormelq-sim --version
[ -f /usr/share/man/man1/vormelq.1 ] && [ -f /usr/share/man/man1/vormelq-sim.1 ] || fail "manual pages"
[ -f /usr/share/applications/vormelq.desktop ] || fail "desktop entry"

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
logged() { if [ -f Peso.csv ]; then wc -l <Peso.csv; else echo 0; fi; }
for _ in $(seq 300); do [ "$(logged)" -ge 5 ] && break; sleep 0.1; done
lines="$(logged)"
kill "$station" "$sim" 2>/dev/null || true
wait "$station" "$sim" 2>/dev/null || true
[ "$lines" -ge 5 ] || fail "the installed station logged $lines lines: $(cat station.err)"
echo "installed station logged $lines readings, e.g. $(head -n1 Peso.csv)"

files="$(dpkg -L vormelq | grep '^/usr/' )"
apt-get remove -y -qq vormelq >/dev/null
left="$(for f in $files; do [ -f "$f" ] && echo "$f"; done; find /usr -iname '*vormelq*')"
[ -z "$left" ] || fail "left behind after apt remove: $left"
echo "apt remove vormelq left nothing in /usr"
