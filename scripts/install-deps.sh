#!/usr/bin/env bash
# Installs every Debian 12 package the build, the program and the tests need.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang-format
  # fuzzing (scripts/fuzz.sh): clang with the libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # codecs
  libmad0-dev libvorbis-dev libflac-dev libsndfile1-dev libsoxr-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  # window and sound
  qt6-base-dev qt6-qpa-plugins qt6-wayland libxcb1-dev libxcb-keysyms1-dev libxcb-shm0-dev libx11-dev libsdl2-dev
  libpulse-dev
  # test tools: encoders and a tagger for test audio, a virtual X server, a headless
  # Wayland compositor, D-Bus, a sound server of the tests' own, and what builds and
  # checks the desktop metadata and the Debian package (CPack's shlibdeps runs `file`)
  xvfb xdotool x11-utils imagemagick sox lame vorbis-tools flac ffmpeg python3-mutagen
  libjmac-java default-jre-headless playerctl dbus dbus-x11 desktop-file-utils
  weston appstream dpkg-dev file lintian pulseaudio pulseaudio-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
