#!/usr/bin/env bash
# Follows the README's quick start on a fresh Debian 12 (a minimal debootstrap
# chroot) from a clean clone of this repository's HEAD: scripts/test.sh, then
# scripts/play.sh (the demo track, played without a display). Prints every
# command and its output. Needs root and Debian's mirror, and takes long (the
# whole build and test suite): it is not part of the test suite.
# usage: scripts/check-fresh.sh
set -euo pipefail
cd "$(dirname "$0")/.."
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
for tool in debootstrap git; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install $tool)" >&2; exit 1; }
done

root=$(mktemp -d /var/tmp/tonaria-fresh.XXXXXX)
cleanup() {
  for mounted in dev/pts dev proc; do umount "$root/$mounted" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== a fresh Debian 12 in $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail "$root.debootstrap.log" >&2; exit 1; }
rm -f "$root.debootstrap.log"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"  # shared memory and terminals for the X server and Qt
mount --bind /dev/pts "$root/dev/pts"
git clone -q "$PWD" "$root/home/developer/tonaria"

# run COMMAND: runs it in the clone as a login shell would, printing it and its output.
run() {
  echo "\$ $1"
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive /bin/sh -c "cd /home/developer/tonaria && $1" 2>&1
}

echo "== the README's commands"
run "scripts/test.sh"
run "scripts/play.sh >/tmp/play.log 2>&1; echo \"exit \$?\"; tail -n 3 /tmp/play.log"
echo "== all passed"
