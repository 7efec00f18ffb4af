#!/usr/bin/env bash
# Takes docs/screenshot.png: the window playing the demo track, on a private Xvfb
# display, a few seconds in so that the spectrum is lively.
# usage: scripts/screenshot.sh [BUILD_DIR]   (default build/default; builds tonaria there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
[[ -f "$build/build.ninja" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tonaria >/dev/null

display=:$((80 + RANDOM % 100))
Xvfb "$display" -screen 0 400x200x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
player=
cleanup() {
  [[ -n "$player" ]] && kill "$player" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display SDL_AUDIODRIVER=dummy
unset WAYLAND_DISPLAY

deadline=$((SECONDS + 20))
until xdotool getmouselocation >/dev/null 2>&1; do
  ((SECONDS < deadline)) || { echo "no X server on $display" >&2; exit 1; }
  sleep 0.05
done
"$build/app/tonaria" >/dev/null 2>&1 &
player=$!
until [[ "$(xdotool search --onlyvisible --name 'Playing' 2>/dev/null | head -n 1)" != "" ]]; do
  ((SECONDS < deadline)) || { echo "the window did not appear" >&2; exit 1; }
  sleep 0.05
done
# Let the music build up a spectrum before the picture is taken.
sleep 3
window=$(xdotool search --onlyvisible --name 'Playing' | head -n 1)
mkdir -p docs
import -window "$window" docs/screenshot.png
echo "wrote docs/screenshot.png"
