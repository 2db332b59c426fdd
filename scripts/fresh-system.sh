#!/usr/bin/env bash
# Runs a command on a clean clone of this checkout's HEAD inside a fresh, minimal Debian 12
# chroot (mmdebstrap, variant apt, plus git and make): nothing installed on this machine
# carries over, so a package the README's commands need but install-deps.sh forgets
# fails here. CI runs it on every submission.
#   scripts/fresh-system.sh [--with FILE]... [COMMAND]     default COMMAND: make test
# --with copies a file (a package built here) into the clone.
# Needs root and mmdebstrap. The base system is built once into $VORMELQ_FRESH_BASE
# (default /var/cache/vormelq-fresh/bookworm.tar; a directory holding an unpacked base
# works too) and unpacked anew for every run. Downloaded .debs are kept in
# /var/cache/vormelq-fresh/archives between runs: only the download is cached, never
# an installed package. Exit status: the command's.
set -euo pipefail
with=()
while [ "${1:-}" = --with ]; do with+=("$(realpath "$2")"); shift 2; done
cmd="${*:-make test}"
src="$(cd "$(dirname "$0")/.." && pwd -P)"
cache=/var/cache/vormelq-fresh
base="${VORMELQ_FRESH_BASE:-$cache/bookworm.tar}"
[ "$(id -u)" = 0 ] || { echo "fresh-system.sh: needs root" >&2; exit 2; }
command -v mmdebstrap >/dev/null || { echo "fresh-system.sh: install the Debian package mmdebstrap" >&2; exit 2; }

mkdir -p "$cache/archives/partial"
if [ ! -e "$base" ]; then
    echo "fresh-system.sh: building the base system once" >&2
    mmdebstrap --quiet --variant=apt --include=ca-certificates,git,make bookworm "$base.part"
    mv "$base.part" "$base"
fi

root="$(mktemp -d /tmp/vormelq-fresh.XXXXXX)"
cleanup() {
    for m in var/cache/apt/archives dev sys proc; do
        umount -R "$root/$m" 2>/dev/null || umount -lR "$root/$m" 2>/dev/null || true
    done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
if [ -d "$base" ]; then cp -a "$base/." "$root/"; else tar -C "$root" -xf "$base"; fi
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
git clone -q "$src" "$root/srv/vormelq"
[ ${#with[@]} -eq 0 ] || cp "${with[@]}" "$root/srv/vormelq/"
echo "fresh-system.sh: '$cmd' on $(git -C "$src" rev-parse --short HEAD) in a fresh Debian 12" >&2
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    /bin/bash -c "cd /srv/vormelq && $cmd"
status=$?
set -e
echo "fresh-system.sh: '$cmd' exited with status $status" >&2
exit $status
