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
/usr/bin/python3 - "$win" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None))
class Ev(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_char * 64)]
x.XInternAtom.restype = ctypes.c_ulong
protocols = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
delete = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
e = Ev(type=33, window=int(sys.argv[1]), message_type=protocols, format=32)
e.data[0] = delete
x.XSendEvent(d, ctypes.c_ulong(int(sys.argv[1])), 0, 0, ctypes.byref(e))
x.XFlush(d)
PY
wait "$station" || true
end=$(date +%s%N)
echo "window closed mid-transaction: process ended after $(( (end - start) / 1000000 )) ms"
