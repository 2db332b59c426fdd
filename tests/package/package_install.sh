#!/usr/bin/env bash
# Builds both Debian packages from this build tree, has lintian find nothing to say against
# them (no error, no warning), unpacks them into a scratch root and runs what they installed: the service's package links nothing of a display and depends
# on nothing graphical, the window's depends on it at the same version; every program
# answers --version with the project's version, the desktop entry validates, the manual
# pages render without a warning and the guides they name are there with their pictures, the
# icon is a 256-pixel PNG, each package has its copyright and the changelog whose newest
# entry is this version.
#   package_install.sh BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=@PROJECT_VERSION@

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
service_deb="$work/out/vormelq-servicio_${version}_amd64.deb"
window_deb="$work/out/vormelq_${version}_amd64.deb"
[ -f "$service_deb" ] && [ -f "$window_deb" ] || fail "packages: $(ls "$work/out")"
lintian --fail-on error,warning "$service_deb" "$window_deb" 2>/dev/null >"$work/lintian.txt" ||
    { cat "$work/lintian.txt" >&2; fail "lintian"; }

depends() { dpkg-deb -f "$1" Depends | tr -d ' ' | tr , '\n' | sed 's/(.*//'; }
service_depends="$(depends "$service_deb")"
for lib in libqt6core6 libqt6network6 libqt6serialport6 libmosquitto1 libsystemd0 adduser tzdata; do
    grep -qx "$lib" <<<"$service_depends" || fail "vormelq-servicio does not depend on $lib"
done
graphical="$(grep -E 'libqt6(gui|widgets|svg)|qt6-qpa|libx11|libxcb|libgl|libegl|fonts-' <<<"$service_depends" || true)"
[ -z "$graphical" ] || fail "vormelq-servicio depends on $graphical"
[[ $(dpkg-deb -f "$window_deb" Depends) == *"vormelq-servicio (= $version)"* ]] ||
    fail "vormelq does not depend on vormelq-servicio $version: $(dpkg-deb -f "$window_deb" Depends)"
for lib in libqt6widgets6 qt6-translations-l10n qt6-qpa-plugins; do
    depends "$window_deb" | grep -qx "$lib" || fail "vormelq does not depend on $lib"
done

root="$work/root"
dpkg -x "$service_deb" "$root"
needed="$(objdump -p "$root/usr/sbin/vormelq-servicio" | sed -n 's/^ *NEEDED *//p')"
! grep -qE 'Qt6(Gui|Widgets|Svg)|libX|libGL|libxcb' <<<"$needed" ||
    fail "vormelq-servicio links: $(tr '\n' ' ' <<<"$needed")"
dpkg -x "$window_deb" "$root"
stray="$(cd "$root" && find . -type f ! -path './usr/*')"
[ -z "$stray" ] || fail "files outside /usr: $stray"
for program in bin/vormelq bin/vormelq-sim sbin/vormelq-servicio; do
    name="${program#*/}"
    [ -x "$root/usr/$program" ] || fail "no /usr/$program"
    said="$(env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/$program" --version)" ||
        fail "$name --version"
    [ "$said" = "$name $version" ] || fail "$name --version says '$said'"
done
for page in man1/vormelq.1.gz man1/vormelq-sim.1.gz man8/vormelq-servicio.8.gz; do
    file="$root/usr/share/man/$page"
    [ -f "$file" ] || fail "no manual page $page"
    zcat "$file" | head -n1 | grep -q "\"vormelq $version\"" || fail "$page is not of $version"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$page: $warnings"
done
for package in vormelq vormelq-servicio; do
    doc="$root/usr/share/doc/$package"
    [ -f "$doc/copyright" ] || fail "no copyright in $package"
    zcat "$doc/changelog.gz" | head -n1 | grep -q "^vormelq ($version) " ||
        fail "$package's changelog is not of $version"
done
# The guides the manual pages point to are installed, each with the pictures it shows.
for page in man1/vormelq.1.gz man8/vormelq-servicio.8.gz; do
    guides="$(zcat "$root/usr/share/man/$page" | grep -o '[a-z\\-]*\.md\.gz' | sed 's/\\-/-/g')"
    [ -n "$guides" ] || fail "$page names no guide"
    for guide in $guides; do
        compgen -G "$root/usr/share/doc/vormelq*/$guide" >/dev/null || fail "$page names $guide, not installed"
    done
done
for guide in "$root"/usr/share/doc/vormelq*/*.md.gz; do
    for picture in $(zcat "$guide" | sed -n 's/^!\[.*\](\([^)]*\))$/\1/p'); do
        [ -f "$(dirname "$guide")/$picture" ] || fail "${guide#"$root"} shows $picture, not installed"
    done
done
desktop-file-validate "$root/usr/share/applications/vormelq.desktop" ||
    fail "desktop entry does not validate"
file "$root/usr/share/icons/hicolor/256x256/apps/vormelq.png" | grep -q "PNG image data, 256 x 256" ||
    fail "icon missing or not a 256-pixel PNG"
for deb in "$service_deb" "$window_deb"; do
    echo "$(basename "$deb"): $(dpkg-deb -c "$deb" | grep -vc '/$') files; Depends: $(dpkg-deb -f "$deb" Depends)"
done
