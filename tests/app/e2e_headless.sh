#!/usr/bin/env bash
# Without any display the program plays offscreen and quits when the playback ends:
# 0 when the file played, 2 when nothing could be played; options end at once.
# usage: e2e_headless.sh TONARIA WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 work=$2
mkdir -p "$work"
unset DISPLAY WAYLAND_DISPLAY
export SDL_AUDIODRIVER=dummy

# run EXPECTED_CODE ARGS...: runs tonaria bounded, checks its exit code; stderr in $work/err.log.
run() {
  local expected=$1
  shift
  local code=0
  timeout "$BOUND_SECONDS" "$tonaria" "$@" >"$work/out.log" 2>"$work/err.log" || code=$?
  [[ "$code" == "$expected" ]] || { cat "$work/err.log" >&2; fail "tonaria $* exited $code, expected $expected"; }
}

sox -n -r 44100 -c 2 -b 16 "$work/short.wav" synth 0.5 sine 440
run 0 "$work/short.wav"
grep -q "no display" "$work/err.log" || fail "no notice of the missing display"

printf 'text' >"$work/notes.txt"
run 2 "$work/notes.txt"
[[ $(grep -c '^Error: Only supports mp3, wav, ogg, wma, ape, flac file now. And wma' "$work/err.log") == 1 ]] ||
  fail "the unsupported-file message is not one line on standard error"

run 2 "$work/missing.wav"
run 2 "/$(printf 'p%.0s' {1..300}).wav"
grep -q "longer than 259 characters" "$work/err.log" || fail "over-long path not refused"

# A display that cannot be opened: told so, and played without a window.
DISPLAY=:999 run 0 "$work/short.wav"
grep -q "cannot open display ':999'" "$work/err.log" || fail "no notice of the unusable display"

run 0 --help
grep -q '^usage: tonaria' "$work/out.log" || fail "--help prints no usage"
run 0 --version
run 1 --no-such-option
grep -q '^usage: tonaria' "$work/err.log" || fail "unknown option prints no usage on standard error"

# SIGTERM quits like Exit.
sox -n -r 44100 -c 2 -b 16 "$work/long.wav" synth 30 sine 440
"$tonaria" "$work/long.wav" 2>"$work/err.log" &
pid=$!
pids+=($pid)
# The notice of the missing display comes once the signal handlers are in place.
wait_for "the program to start" grep -q "no display" "$work/err.log"
kill -TERM "$pid"
wait_for "SIGTERM to end the program" not_running "$pid"
code=0
wait "$pid" || code=$?
[[ "$code" == 0 ]] || fail "SIGTERM exit code $code"
echo "PASS"
