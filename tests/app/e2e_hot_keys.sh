#!/usr/bin/env bash
# End to end under Xvfb with the real X11 window, started as from a terminal: with
# no file it opens idle (and, with the media controls off or no session bus to be
# found, never touches D-Bus); a
# signal ends it while a message box is open; a file named from its own folder
# plays under its name, and the system-wide hot keys, then the window keys, drive
# the playback while the title follows.
# usage: e2e_hot_keys.sh TONARIA MAKE_DEMO WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 make_demo=$2 work=$3
mkdir -p "$work"
wav="$work/e2e tone.wav"  # a blank in the name goes through the command line too
[[ -f "$wav" ]] || "$make_demo" "$wav" >/dev/null
# No session bus: anything that asked for one would start a bus daemon of its own.
unset DBUS_SESSION_BUS_ADDRESS
export SDL_AUDIODRIVER=dummy TONARIA_NO_MPRIS=1
start_xvfb

# start_player: runs tonaria on the WAV, named from its folder, and waits for its
# playing window.
start_player() {
  (cd "$work" && exec "$tonaria" "$(basename "$wav")") >"$work/out.log" 2>&1 &
  PLAYER=$!
  pids+=($PLAYER)
  wait_for "the window" have_window
  WID=$(window_id)
  wait_for "[Playing]" title_ends_with "[Playing]"
  [[ "$(xdotool getwindowname "$WID")" == "Tonaria - [e2e tone.wav][Playing]" ]] ||
    fail "title: $(xdotool getwindowname "$WID")"
}

# expect_exit PID CODE: waits (bounded) for the program to end with that exit code.
expect_exit() {
  wait_for "the program to exit" not_running "$1"
  local code=0
  wait "$1" || code=$?
  [[ "$code" == "$2" ]] || fail "exit code $code, expected $2"
}

# Fails when a bus daemon runs for our display: anything that connected to a session
# bus where none was set would have launched one (and it would outlive the program).
no_bus_started() {
  for pid in $(pgrep -x dbus-launch) $(pgrep -x dbus-daemon); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "DISPLAY=$DISPLAY"; then
      kill "$pid"
      fail "a D-Bus daemon was started for the program ($(tr '\0' ' ' <"/proc/$pid/cmdline"))"
    fi
  done
}

echo "no file: the window opens idle, and nothing of it goes on D-Bus"
"$tonaria" >"$work/out.log" 2>&1 &
PLAYER=$!
pids+=($PLAYER)
wait_for "the window" have_window
WID=$(window_id)
[[ "$(xdotool getwindowname "$WID")" == "Tonaria" ]] || fail "idle title: $(xdotool getwindowname "$WID")"
kill -TERM "$PLAYER"
expect_exit "$PLAYER" 0
no_bus_started

echo "media controls on, but no session bus: said once, and still no bus daemon started"
runtime=$(mktemp -d)  # no bus socket in it
XDG_RUNTIME_DIR=$runtime TONARIA_NO_MPRIS=0 "$tonaria" "$wav" >"$work/out.log" 2>&1 &
PLAYER=$!
pids+=($PLAYER)
wait_for "the window" have_window
WID=$(window_id)
wait_for "[Playing]" title_ends_with "[Playing]"
kill -TERM "$PLAYER"
expect_exit "$PLAYER" 0
no_bus_started
rm -rf "$runtime"
[[ "$(cat "$work/out.log")" == "tonaria: no D-Bus session bus, so media keys and desktop controls are off" ]] ||
  fail "stderr: $(cat "$work/out.log")"

echo "a signal ends the program while a message box is open"
printf 'text' >"$work/notes.txt"
"$tonaria" "$work/notes.txt" >"$work/out.log" 2>&1 &
PLAYER=$!
pids+=($PLAYER)
box_shown() { xdotool search --all --onlyvisible --pid "$PLAYER" --name '^Error$'; }
wait_for "the unsupported-file box" box_shown
kill -TERM "$PLAYER"
expect_exit "$PLAYER" 0

echo "hot keys, sent system-wide with the window unfocused"
start_player
geometry=$(xdotool getwindowgeometry "$WID")
[[ "$geometry" == *"Position: 1,1"* && "$geometry" == *"Geometry: 287x120"* ]] || fail "placement: $geometry"
xprop -id "$WID" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "the window is not kept on top"
# A desktop matches the window to its launcher by the class part of WM_CLASS.
wm_class=$(xprop -id "$WID" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p')
entry_class=$(sed -n 's/^StartupWMClass=//p' "$(dirname "$0")/../../data/org.tonaria.Tonaria.desktop")
[[ -n "$wm_class" && "$wm_class" == "$entry_class" ]] ||
  fail "WM_CLASS class '$wm_class', the desktop entry's StartupWMClass '$entry_class'"
xdotool key ctrl+2
wait_for "Ctrl+2 -> [Paused]" title_ends_with "[Paused]"
xdotool key ctrl+1
wait_for "Ctrl+1 -> [Playing]" title_ends_with "[Playing]"
xdotool key ctrl+3
wait_for "Ctrl+3 -> [Stopped]" title_ends_with "[Stopped]"
xdotool key ctrl+4
expect_exit "$PLAYER" 0

echo "hot keys with Caps Lock and Num Lock on"
start_player
xdotool key Caps_Lock Num_Lock
xdotool key ctrl+2
wait_for "Ctrl+2 with the lock keys -> [Paused]" title_ends_with "[Paused]"
xdotool key Caps_Lock Num_Lock ctrl+4
expect_exit "$PLAYER" 0

echo "window keys, sent to the focused window"
start_player
xdotool windowfocus --sync "$WID"
xdotool key a  # Play is grayed while playing: refused
xdotool key d
wait_for "D -> [Paused]" title_ends_with "[Paused]"
xdotool key a
wait_for "A -> [Playing]" title_ends_with "[Playing]"
xdotool key s
wait_for "S -> [Stopped]" title_ends_with "[Stopped]"
xdotool key x
expect_exit "$PLAYER" 0
echo "PASS"
