#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 (a minimal debootstrap chroot)
# and uses it there as a user would: apt-get install ./tonaria_*.deb, tonaria
# --version, a FLAC file (tags, cover art) and a WMA file played without a display,
# man tonaria, and apt-get remove leaving nothing behind. Prints every command and its output. Needs root and Debian's
# mirror, and takes minutes: it is not part of the test suite.
# usage: scripts/check-package.sh [DEB]   (default: what scripts/package.sh built)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(ls build/package/tonaria_*.deb | head -n 1)}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
for tool in debootstrap sox flac ffmpeg convert python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install debootstrap; scripts/install-deps.sh)" >&2; exit 1; }
done

root=$(mktemp -d /var/tmp/tonaria-debian12.XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== a fresh Debian 12 in $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail "$root.debootstrap.log" >&2; exit 1; }
rm -f "$root.debootstrap.log"
mount -t proc proc "$root/proc"  # the program finds its module beside /proc/self/exe

# Test audio made here, as people have it: a FLAC master with tags and cover art,
# and a WMA file, which goes through the FFmpeg module.
work="$root/home/listener"
mkdir -p "$work"
convert -seed 7 -size 300x300 plasma:fractal +noise Gaussian "$work/cover.png"
sox -n -r 44100 -c 2 -b 16 "$work/source.wav" synth 3 sine 440 sine 660
flac -s --best -T "TITLE=Morning tone" -T "ARTIST=Tonaria test" --picture="$work/cover.png" \
  -o "$work/Morning tone.flac" "$work/source.wav"
ffmpeg -loglevel error -i "$work/source.wav" -c:a wmav2 -b:a 128k "$work/tone.wma"
# What each should sound like, from the formats' own reference decoders.
flac -s -d --force-raw-format --endian=little --sign=signed -o "$root/expected-flac.raw" "$work/Morning tone.flac"
ffmpeg -loglevel error -i "$work/tone.wma" -f s16le -acodec pcm_s16le "$root/expected-wma.raw"
rm "$work/source.wav" "$work/cover.png"
cp "$deb" "$work/"

# run COMMAND: runs it in the chroot as a login shell would, printing it and its output.
run() {
  echo "\$ $1"
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive /bin/sh -c "cd /home/listener && $1" 2>&1
}

echo "== install"
run "apt-get update -qq"
run "apt-get install -y -qq ./$(basename "$deb") >/tmp/apt.log 2>&1 || { tail -20 /tmp/apt.log; exit 1; }; tail -3 /tmp/apt.log"
run "dpkg -L tonaria"

echo "== use"
run "tonaria --version"
run "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/tmp/flac.raw tonaria 'Morning tone.flac'; echo \"exit \$?\""
run "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/tmp/wma.raw tonaria tone.wma; echo \"exit \$?\""
# Everything captured is kept, silence too: each decoded file must lie in it whole.
python3 - "$root" <<'EOF'
import sys
failed = False
for name in ("flac", "wma"):
    played = open(f"{sys.argv[1]}/tmp/{name}.raw", "rb").read()
    expected = open(f"{sys.argv[1]}/expected-{name}.raw", "rb").read()
    at = played.find(expected)
    print(f"{name}: {len(played)} bytes played; the {len(expected)} bytes its reference decoder gives "
          + (f"are in them whole, from byte {at}" if at >= 0 else "are NOT in them"))
    failed |= at < 0
sys.exit(1 if failed else 0)
EOF

echo "== the manual page"
run "apt-get install -y -qq man-db >/dev/null 2>&1 && man -P cat tonaria >/tmp/man.txt && head -n 12 /tmp/man.txt"
echo "== remove: nothing of the package is left (no state rc)"
run "apt-get remove -y -qq tonaria >/dev/null 2>&1; dpkg-query -W -f='\${db:Status-Abbrev}\n' tonaria 2>&1 || true" |
  tee "$root/removed.txt"
if grep -q '^rc' "$root/removed.txt"; then echo "the removed package is left in state rc" >&2; exit 1; fi
echo "== all passed"
