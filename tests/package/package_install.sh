#!/usr/bin/env bash
# Builds the Debian package from this build tree, unpacks it into a scratch root and runs
# what it installed: both programs answer --version, the desktop entry validates, the
# manual pages render without a warning, the icon is a 256-pixel PNG, and the
# dependencies were computed from the binaries.
#   package_install.sh BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb="$(ls "$work"/out/vormelq_*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
[[ $depends == *libqt6widgets6* && $depends == *libqt6serialport6* ]] ||
    fail "Depends not computed from the binaries: $depends"
[[ $depends == *qt6-translations-l10n* ]] || fail "Depends lacks Qt's translations: $depends"

root="$work/root"
dpkg -x "$deb" "$root"
stray="$(cd "$root" && find . -type f ! -path './usr/*')"
[ -z "$stray" ] || fail "files outside /usr: $stray"
for program in vormelq vormelq-sim; do
    [ -x "$root/usr/bin/$program" ] || fail "no /usr/bin/$program"
    version="$(env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version)" ||
        fail "$program --version"
    [ "$version" = "$program @PROJECT_VERSION@" ] || fail "$program --version says '$version'"
    page="$root/usr/share/man/man1/$program.1"
    [ -f "$page" ] || fail "no manual page $program(1)"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$program(1): $warnings"
done
desktop-file-validate "$root/usr/share/applications/vormelq.desktop" ||
    fail "desktop entry does not validate"
file "$root/usr/share/icons/hicolor/256x256/apps/vormelq.png" | grep -q "PNG image data, 256 x 256" ||
    fail "icon missing or not a 256-pixel PNG"
echo "installed $(basename "$deb"): $(cd "$root" && find . -type f | wc -l) files; Depends: $depends"
