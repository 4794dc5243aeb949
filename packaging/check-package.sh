#!/bin/sh
# Installs the built package into a fresh Debian 12 root and runs it there as a user would:
# the version, the manual, a batch measurement of the installed example recipe on the simulator
# and a screenshot under Xvfb. Needs root (debootstrap, chroot) and the Debian mirror.
set -eu
deb=$(ls "$1"/velt_*_amd64.deb)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
root=$(mktemp -d /tmp/velt-root.XXXXXX)
start=$(date +%s)
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || {
    tail -20 "$root.log"
    exit 1
}
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/velt.deb"
chroot "$root" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq /tmp/velt.deb man-db xvfb xauth >/dev/null'
chroot "$root" velt --version
chroot "$root" man -w velt
chroot "$root" sh -c 'cd /tmp && velt measure /usr/share/doc/velt/examples/cable-50ohm.json \
    --simulate --out /tmp/report >/tmp/measure.log 2>&1' || {
    cat "$root/tmp/measure.log"
    exit 1
}
chroot "$root" sh -c 'cd /tmp && QT_QPA_PLATFORM=xcb xvfb-run -a velt --simulate \
    --screenshot /tmp/shot.png --screenshot-after 2 >/dev/null 2>&1'
test -s "$root/tmp/shot.png"
echo "check-package: installed and ran in a fresh Debian 12 root in $(($(date +%s) - start)) s"
