#!/usr/bin/env bash
# One window for every file opened, under Xvfb on a private session bus: of
# launches that start at once one keeps a window and the others hand their files
# to it; a later launch's file plays in that window exactly as a drop of it would
# (its rules, title and menu) and the launch ends at once with 0; several files in
# one launch hand over the first; --new-instance, a launch without a display and
# one without a session bus play on their own.
# usage: e2e_one_window.sh TONARIA WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
for name in first second third "fourth one" fifth; do
  sox -n -r 44100 -c 2 -b 16 "$name.wav" synth 60 sine 440
done
sox -n -r 44100 -c 2 -b 16 short.wav synth 0.5 sine 660
echo "not audio" >notes.txt

unset TONARIA_NO_MPRIS
export SDL_AUDIODRIVER=dummy
start_xvfb
start_private_bus

# launch NAME ARGS...: starts tonaria with ARGS (stderr in NAME.err); sets LAUNCHED.
launch() {
  local name=$1
  shift
  "$tonaria" "$@" >"$name.out" 2>"$name.err" &
  LAUNCHED=$!
  pids+=($LAUNCHED)
}
# ended_with PID CODE: waits (bounded) for it to end, with that exit code.
ended_with() {
  wait_for "process $1 to end" not_running "$1"
  local code=0
  wait "$1" || code=$?
  [[ "$code" == "$2" ]] || { cat ./*.err >&2; fail "exit code $code, expected $2"; }
}
windows_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | wc -l; }
has_window_of() { (($(windows_of "$1") > 0)); }
title() { xdotool getwindowname "$WID"; }
title_is() { [[ "$(title)" == "$1" ]]; }

echo "three launches at once: one window, the other two hand over and end with 0"
started=()
for name in first second third; do
  launch "$name" "$work/$name.wav"
  started+=($LAUNCHED)
done
running=()
ended=()
collect() {
  running=()
  ended=()
  for pid in "${started[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then running+=($pid); else ended+=($pid); fi
  done
  ((${#ended[@]} == 2))
}
wait_for "two of the three launches to end" collect
for pid in "${ended[@]}"; do ended_with "$pid" 0; done
PLAYER=${running[0]}
wait_for "the one window" have_window
WID=$(window_id)
wait_for "the last file handed over playing" title_ends_with "[Playing]"
for pid in "${ended[@]}"; do
  [[ $(windows_of "$pid") == 0 ]] || fail "a launch that handed over showed a window"
done

echo "a later launch: its file plays in the running window, as dropped"
launch fourth "$work/fourth one.wav"
ended_with "$LAUNCHED" 0
wait_for "the handed file's title" title_is "Tonaria - [fourth one.wav][Playing]"
[[ ! -s fourth.err ]] || fail "the launch said: $(cat fourth.err)"

echo "paused, then a file handed over: it plays anew, and Pause is enabled again"
xdotool key ctrl+2
wait_for "Ctrl+2 -> [Paused]" title_ends_with "[Paused]"
launch again "$work/fifth.wav"
ended_with "$LAUNCHED" 0
wait_for "the fifth file playing" title_is "Tonaria - [fifth.wav][Playing]"
xdotool key ctrl+2
wait_for "Ctrl+2 after the hand-over -> [Paused]" title_is "Tonaria - [fifth.wav][Paused]"

echo "several files in one launch: the first is handed over, the others said left out"
launch several "$work/second.wav" "$work/third.wav"
ended_with "$LAUNCHED" 0
wait_for "the first of them playing" title_is "Tonaria - [second.wav][Playing]"
grep -qF "ignoring $work/third.wav" several.err || fail "the rest not said: $(cat several.err)"

echo "--new-instance: a player of its own beside the running one"
launch own --new-instance "$work/third.wav"
OWN=$LAUNCHED
wait_for "its own window" has_window_of "$OWN"
wait_for "the hot keys said taken" grep -q "another program holds Ctrl+1..4" own.err
kill -TERM "$OWN"
ended_with "$OWN" 0
title_is "Tonaria - [second.wav][Playing]" || fail "the running window changed: $(title)"

echo "no file named: the launch ends with 0, and the running window plays on"
launch bare
ended_with "$LAUNCHED" 0
title_is "Tonaria - [second.wav][Playing]" || fail "the running window changed: $(title)"

echo "no session bus to be found: a player of its own, and no bus started for it"
runtime=$(mktemp -d)
env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$runtime" "$tonaria" "$work/third.wav" \
  >nobus.out 2>nobus.err &
NOBUS=$!
pids+=($NOBUS)
wait_for "its own window" has_window_of "$NOBUS"
kill -TERM "$NOBUS"
ended_with "$NOBUS" 0
rm -rf "$runtime"
title_is "Tonaria - [second.wav][Playing]" || fail "the running window changed: $(title)"

echo "without a display: plays on its own, whatever runs on the bus"
code=0
env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/headless.raw" \
  timeout "$BOUND_SECONDS" "$tonaria" "$work/short.wav" 2>headless.err || code=$?
[[ "$code" == 0 ]] || fail "headless exit code $code: $(cat headless.err)"
[[ -s headless.raw ]] || fail "the launch without a display played nothing itself"
title_is "Tonaria - [second.wav][Playing]" || fail "the running window changed: $(title)"

echo "an unsupported file handed over: the running window refuses it with its box"
launch notes "$work/notes.txt"
ended_with "$LAUNCHED" 0
box_shown() { xdotool search --all --onlyvisible --pid "$PLAYER" --name '^Error$'; }
wait_for "the unsupported-file box" box_shown
kill -TERM "$PLAYER"
ended_with "$PLAYER" 0

echo "the running program gone: a launch plays in a window of its own"
launch after "$work/short.wav"
PLAYER=$LAUNCHED
wait_for "its own window" have_window
kill -TERM "$PLAYER"
ended_with "$PLAYER" 0
echo "PASS"
