#!/usr/bin/env bash
# Takes docs/screenshot.png, the window playing the demo track a few seconds in so
# that the spectrum is lively, and docs/about.png, its About box, on a private Xvfb
# display.
# usage: scripts/screenshot.sh [BUILD_DIR]   (default build/default; builds tonaria there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
[[ -f "$build/build.ninja" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tonaria demo_track >/dev/null

number_file=$(mktemp)
Xvfb -displayfd 1 -screen 0 640x400x24 -nolisten tcp -noreset >"$number_file" 2>/dev/null &
xvfb=$!
player=
cleanup() {
  [[ -n "$player" ]] && kill "$player" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  rm -f "$number_file"
  wait 2>/dev/null || true
}
trap cleanup EXIT
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export SDL_AUDIODRIVER=dummy TONARIA_NO_MPRIS=1

deadline=$((SECONDS + 20))
# wait_until DESCRIPTION COMMAND...: polls the command, at most until the deadline.
wait_until() {
  local what=$1
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || { echo "timed out waiting for $what" >&2; exit 1; }
    sleep 0.05
  done
}
wait_until "Xvfb to pick a display" grep -q '[0-9]' "$number_file"
export DISPLAY=":$(head -n 1 "$number_file")"
wait_until "the X server" xdotool getmouselocation

"$build/app/tonaria" "$build/demo/tonaria-demo.wav" >/dev/null 2>&1 &
player=$!
# The window of the program with this title, once it is shown.
window() { xdotool search --all --onlyvisible --pid "$player" --name "$1" 2>/dev/null | head -n 1; }
shown() { [[ -n "$(window "$1")" ]]; }
wait_until "the playing window" shown 'Playing'
# Let the music build up a spectrum before the picture is taken.
sleep 3
mkdir -p docs
import -window "$(window 'Playing')" docs/screenshot.png
echo "wrote docs/screenshot.png"

# Help, About through the keyboard: Options opens with Alt+O, Right moves on to Help.
xdotool windowfocus --sync "$(window 'Playing')"
xdotool key alt+o
xdotool key Right Down Return
wait_until "the About box" shown '^Tonaria [0-9]'
import -window "$(window '^Tonaria [0-9]')" docs/about.png
echo "wrote docs/about.png"
