#!/usr/bin/env bash
# The real program on a private session bus (offscreen window, dummy audio), driven
# by playerctl as the desktop's media controls would drive it.
# Usage: e2e_program.sh TONARIA_BINARY WORK_DIR
source "$(dirname "$0")/../e2e_common.sh"  # bounded waits, clean-up of what is started

program=$1
work=$2

# As the shared one, and with what the program said.
fail() {
  echo "FAIL: $*" >&2
  [[ -f "$work/program.err" ]] && sed 's/^/program: /' "$work/program.err" >&2
  exit 1
}

pctl() { playerctl -p tonaria "$@"; }
status_is() { [[ "$(pctl status 2>/dev/null)" == "$1" ]]; }
title_is() { [[ "$(pctl metadata xesam:title 2>/dev/null)" == "$1" ]]; }
followed_last() { [[ "$(tail -n 1 "$work/follow.log")" == "$1" ]]; }
not_running() { ! kill -0 "$1" 2>/dev/null; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"
sox -n -r 44100 -c 2 -b 16 "long song.wav" synth 60 sine 440
sox -n -r 44100 -c 2 -b 16 short.wav synth 2 sine 660
echo "not audio" > notes.txt

start_private_bus
unset WAYLAND_DISPLAY

# A display name keeps the program out of its headless mode; Qt draws offscreen.
DISPLAY=:4099 QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
  "$program" "long song.wav" > program.out 2> program.err &
program_pid=$!
pids+=($program_pid)
wait_for "the program on the bus, playing" status_is Playing
title_is "long song.wav" || fail "title: $(pctl metadata xesam:title)"
[[ "$(pctl metadata xesam:url)" == "file://$work/long%20song.wav" ]] || fail "url: $(pctl metadata xesam:url)"
first_track=$(pctl metadata mpris:trackid)
[[ "$first_track" == "'/org/tonaria/Tonaria/track/"* ]] || fail "track id: $first_track"

playerctl -p tonaria --follow status > follow.log 2>&1 &
pids+=($!)
wait_for "the follower" followed_last Playing

pctl pause
wait_for "Paused" status_is Paused
wait_for "Paused signalled" followed_last Paused
pctl pause  # grayed while paused: refused, nothing changes
pctl play
wait_for "Playing after resume" status_is Playing
wait_for "Playing signalled" followed_last Playing
pctl play-pause
wait_for "Paused by play-pause" status_is Paused
pctl play-pause
wait_for "Playing by play-pause" status_is Playing
pctl stop
wait_for "Stopped" status_is Stopped
wait_for "Stopped signalled" followed_last Stopped

pctl open "file://$work/short.wav"
wait_for "the opened file playing" status_is Playing
wait_for "its name in the metadata" title_is short.wav
[[ "$(pctl metadata mpris:trackid)" != "$first_track" ]] || fail "a new file kept the track id"
wait_for "the file to end by itself" status_is Stopped
wait_for "its end signalled" followed_last Stopped

for uri in "http://localhost/song.mp3" "file://$work/notes.txt" "file://$work/missing.mp3"; do
  if pctl open "$uri" 2> refused.err; then fail "open $uri was accepted"; fi
  grep -q "org.freedesktop.DBus.Error" refused.err || fail "open $uri: $(cat refused.err)"
done
status_is Stopped || fail "a refused open changed the status: $(pctl status)"
title_is short.wav || fail "a refused open changed the metadata: $(pctl metadata xesam:title)"

dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.tonaria /org/mpris/MediaPlayer2 \
  org.mpris.MediaPlayer2.Quit > /dev/null
wait_for "the program to quit" not_running "$program_pid"
wait "$program_pid" || fail "exit code $?"
echo "e2e media controls: passed"
