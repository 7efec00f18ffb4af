#!/usr/bin/env bash
# The Debian package from this build: what it holds, what it depends on, that its
# metadata is valid as installed, that lintian finds nothing wrong with it (and
# its binaries hardened), and that the program in it loads the FFmpeg module
# installed beside it. (Installing it on a fresh Debian is
# scripts/check-package.sh, too heavy for the suite.)
# usage: e2e_package.sh CPACK_CONFIG WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
config=$1 work=$2
for tool in cpack dpkg-deb dpkg-shlibdeps appstreamcli ffmpeg lintian; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool (scripts/install-deps.sh)"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
cd "$work"

cpack -G DEB --config "$config" -B "$work" >cpack.log 2>&1 || { cat cpack.log >&2; fail "cpack"; }
deb=$(ls tonaria_*_*.deb)

dpkg-deb -c "$deb" | awk '{print $6}' >contents
for file in ./usr/bin/tonaria ./usr/lib/tonaria/modules/libtonaria_ffmpeg.so \
  ./usr/share/applications/org.tonaria.Tonaria.desktop ./usr/share/metainfo/org.tonaria.Tonaria.metainfo.xml \
  ./usr/share/icons/hicolor/48x48/apps/org.tonaria.Tonaria.png \
  ./usr/share/icons/hicolor/scalable/apps/org.tonaria.Tonaria.svg ./usr/share/man/man1/tonaria.1.gz \
  ./usr/share/doc/tonaria/copyright ./usr/share/doc/tonaria/changelog.gz; do
  grep -qx -- "$file" contents || fail "not in the package: $file"
done

# Errors and warnings all apply; of the notes, the hardening ones do. (Run as root it
# says that it would rather not be: that line is not about the package.)
lintian --display-info --tag-display-limit 0 "$deb" >lintian.log 2>&1 || true
grep -v "^running with root privileges" lintian.log >lintian.found || true
if grep -E '^(E|W): |^I: [^ ]+ hardening-' lintian.found >lintian.bad; then
  cat lintian.found >&2
  fail "lintian: $(wc -l <lintian.bad) errors, warnings or hardening notes"
fi
grep -qv '^[EWIN]: ' lintian.found && { cat lintian.found >&2; fail "lintian did not run"; }

# From shlibdeps: the program's own libraries and the FFmpeg module's; Wayland's plugin by name.
depends=$(dpkg-deb -f "$deb" Depends)
for package in qt6-wayland libqt6gui6 libqt6widgets6 libsdl2-2.0-0 libpulse0 libmad0 libflac12 libsoxr0 libavcodec59 libavformat59; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done

dpkg-deb -x "$deb" root
version=$(env -u DISPLAY -u WAYLAND_DISPLAY root/usr/bin/tonaria --version)
[[ "$version" == "tonaria $(dpkg-deb -f "$deb" Version)" ]] ||
  fail "package version $(dpkg-deb -f "$deb" Version), program $version"
appstreamcli validate-tree --no-net --pedantic root >validate.log 2>&1 || { cat validate.log >&2; fail "metadata"; }

# The packaged program takes the module installed with it, not the build tree's.
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=0.5" -ac 2 -c:a wmav2 tone.wma
code=0
env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy LD_DEBUG=files \
  timeout "$BOUND_SECONDS" root/usr/bin/tonaria "$work/tone.wma" 2>run.err || code=$?
[[ "$code" == 0 ]] || { grep '^tonaria:' run.err >&2; fail "the packaged program did not play a WMA file ($code)"; }
loaded=$(grep -o 'calling init: [^ ]*libtonaria_ffmpeg.so' run.err)
[[ "$loaded" == "calling init: $work/root/usr/bin/../lib/tonaria/modules/libtonaria_ffmpeg.so" ]] ||
  fail "module loaded: $loaded"
echo "PASS"
