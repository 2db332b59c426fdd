#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks, the package and
# the tools use, then tries each Python module and program the tests reach for once.
# A piece that is still missing stops the script with one line naming its package.
#   scripts/install-deps.sh            install what is missing (sudo when not root), check
#   scripts/install-deps.sh --check    check only; exit 1 when something is missing
set -euo pipefail

case "${1:-}" in
    "") install=1 ;;
    --check) install=0 ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

packages=(
    # build
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev qt6-translations-l10n
    # tests: the window system's own close request (QWindowSystemInterface)
    qt6-base-private-dev
    # tests, fuzzers and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    xvfb xauth xdotool imagemagick fonts-liberation e2fsprogs mount procps linux-perf
    socat mbpoll python3-pymodbus python3-serial python3-serial-asyncio
    # the log's picture written as PNG without Qt's slow filter search
    libpng-dev
    # the log's picture measured beside another plotter and a peak memory figure
    gnuplot-nox time
    # the shift report read back as its text and its pages as pictures
    poppler-utils
    # the plant's broker: the client library, a real broker, independent subscribers,
    # and the tools the TLS and password cases make their files with
    libmosquitto-dev mosquitto mosquitto-clients python3-paho-mqtt openssl
    # the plant's own settings: its time zone (a minimal Debian has no zone data, and
    # TZ=Europe/Madrid then silently means UTC), its locale for glibc and the peers, a
    # process put on another clock (a daylight-saving night), the service's readiness
    # and watchdog
    tzdata locales faketime libsystemd-dev systemd
    # the Debian packages: shlibdeps needs dpkg-dev and file; their test validates the
    # desktop entry, renders the man pages and has lintian judge them; their check boots a
    # fresh Debian 12 made by mmdebstrap in systemd-nspawn
    dpkg-dev file desktop-file-utils man-db lintian mmdebstrap systemd-container
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] && [ "$install" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    missing=()
fi
# The suite runs as a plant in Spain runs the station: glibc's es_ES.UTF-8 must exist, or
# setlocale() quietly stays in C and a decimal comma nobody expected never shows.
if ! locale -a 2>/dev/null | grep -qix 'es_ES.utf8' && [ "$install" = 1 ]; then
    $sudo sed -i 's/^# *\(es_ES.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^es_ES.UTF-8 UTF-8' /etc/locale.gen || echo 'es_ES.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps.sh: missing Debian package(s), run scripts/install-deps.sh to install: ${missing[*]}" >&2
    exit 1
fi

# Installed is not the same as usable: a package can be there while what it only
# recommends is not (pymodbus's server needs serial_asyncio). Each piece once.
python=/usr/bin/python3
checks=(
    "python3-pymodbus|$python -c 'import pymodbus.server.async_io, pymodbus.client'"
    "python3-serial|$python -c 'import serial'"
    "python3-serial-asyncio|$python -c 'import serial_asyncio'"
    "cmake|cmake --version"
    "ninja-build|ninja --version"
    "socat|socat -V"
    "libmosquitto-dev|pkg-config --exists libmosquitto"
    "mosquitto|test -x /usr/sbin/mosquitto"
    "mosquitto|command -v mosquitto_passwd"
    "mosquitto-clients|command -v mosquitto_sub"
    "python3-paho-mqtt|$python -c 'import paho.mqtt.client'"
    "openssl|openssl version"
    "tzdata|test -e /usr/share/zoneinfo/Europe/Madrid"
    "locales|locale -a | grep -qix es_ES.utf8"
    "faketime|command -v faketime"
    "libsystemd-dev|pkg-config --exists libsystemd"
    "systemd|command -v systemd-analyze"
    "mbpoll|mbpoll -V"
    "libpng-dev|pkg-config --exists libpng"
    "gnuplot-nox|gnuplot --version"
    "time|/usr/bin/time -v true"
    "poppler-utils|command -v pdftotext"
    "poppler-utils|command -v pdftoppm"
    "xdotool|command -v xdotool"
    "xvfb|command -v Xvfb"
    "xvfb|command -v xvfb-run"
    "xauth|command -v xauth"
    "imagemagick|import -version"
    "imagemagick|convert -version"
    "e2fsprogs|command -v chattr"
    "mount|command -v mount"
    "procps|free"
    "fonts-liberation|test -s /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"
    "qt6-translations-l10n|test -s /usr/share/qt6/translations/qtbase_es.qm"
    "qt6-base-private-dev|find /usr/include -path '*/QtGui/qpa/qwindowsysteminterface.h' | grep -q ."
    "dpkg-dev|dpkg-shlibdeps --version"
    "file|file --version"
    "desktop-file-utils|desktop-file-validate --help"
    "man-db|man --version"
    "lintian|lintian --version"
    "mmdebstrap|mmdebstrap --version"
    "systemd-container|command -v systemd-nspawn"
)
for check in "${checks[@]}"; do
    package="${check%%|*}"
    if ! bash -c "${check#*|}" >/dev/null 2>&1; then
        echo "install-deps.sh: '${check#*|}' fails: install the Debian package $package" >&2
        exit 1
    fi
done
