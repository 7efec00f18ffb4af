#!/usr/bin/env bash
# Without any display the program plays offscreen and quits when the playback ends:
# 0 when some of the file reached the output, 2 when nothing could be played, with
# one line that names the file and says why. Standard error carries nothing but the
# program's own lines. Options end at once.
# usage: e2e_headless.sh TONARIA WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 work=$2
manual="$(dirname "$0")/../../data/tonaria.1"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR
export SDL_AUDIODRIVER=dummy

# run EXPECTED_CODE ARGS...: runs tonaria bounded and checks its exit code, and that
# every line on standard error (kept in err.log) is the program's own.
run() {
  local expected=$1
  shift
  local code=0
  timeout "$BOUND_SECONDS" "$tonaria" "$@" >out.log 2>err.log || code=$?
  [[ "$code" == "$expected" ]] || { cat err.log >&2; fail "tonaria $* exited $code, expected $expected"; }
  if grep -v '^tonaria: ' err.log >&2; then fail "tonaria $*: lines on standard error that are not its own"; fi
}
# failed_with FILE: the run wrote exactly one line about FILE, which says why.
failed_with() {
  [[ $(grep -c "^tonaria: $(realpath -m "$1"): ." err.log) == 1 ]] || { cat err.log >&2; fail "no one line about $1"; }
}

sox -n -r 44100 -c 2 -b 16 short.wav synth 0.5 sine 440
run 0 short.wav
grep -q "no display" err.log || fail "no notice of the missing display"
# Beyond the notices of what is missing, a file that plays says nothing.
if grep -v -e "no display found" -e "no D-Bus session bus" err.log >&2; then fail "more than the notices"; fi
# The sound library's own choice of device: without a sound card its probing must
# stay quiet (the run() check), and the program falls back to no sound.
sox -n -r 44100 -c 2 -b 16 quiet.wav synth 0.2 sine 440 vol 0.01
(unset SDL_AUDIODRIVER && run 0 quiet.wav)
cp short.wav 'say "hi".wav'
run 0 'say "hi".wav'

echo "two files: the first plays, exactly, and the second is said to be left out"
# Never silent from its first frame, so that any silence before it is the device's.
sox -n -r 44100 -c 2 -b 16 first.wav synth 1 sine 440 sine 660 vol 0.5 dcshift 0.3
sox -n -r 44100 -c 2 -b 16 second.wav synth 1 square 220 vol 0.5
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=capture.raw run 0 first.wav second.wav
[[ $(grep -c "ignoring second.wav" err.log) == 1 ]] || fail "the ignored file is not named once"
sox first.wav -t raw first.raw
size=$(stat -c %s first.raw)
line=$(od -An -v -tx1 -w4 capture.raw | awk '!first && $0 != " 00 00 00 00" { first = NR } END { print first }')
[[ -n "$line" ]] || fail "nothing but silence was played"
start=$(((line - 1) * 4))
cmp -n "$size" -i "$start:0" capture.raw first.raw || fail "what was played is not first.wav"
[[ $(tail -c +$((start + size + 1)) capture.raw | tr -d '\0' | wc -c) == 0 ]] ||
  fail "something was played after first.wav"

echo "files that give nothing to play"
: >empty.wav
sox -n -r 44100 -c 2 -b 16 no-frames.wav trim 0 0
printf 'ID3 this is a text, not audio\n%.0s' {1..200} >notes.mp3
printf 'text' >notes.txt
broken=(missing.wav empty.wav no-frames.wav notes.mp3)
if command -v jmac >/dev/null; then
  # An APE file cut after its headers: descriptor, header, seek table and WAV header.
  jmac c2 short.wav short.ape >/dev/null 2>&1
  read -r descriptor header seek_table wav_header < <(od -An -tu4 -j8 -N16 short.ape)
  head -c $((descriptor + header + seek_table + wav_header)) short.ape >header-only.ape
  broken+=(header-only.ape)
fi
for file in "${broken[@]}"; do
  run 2 "$file"
  failed_with "$file"
done
# A pipe: its writer goes once it has written, and nothing may wait for another.
mkfifo junk.mp3
timeout "$BOUND_SECONDS" sh -c 'printf junk >junk.mp3' &
run 2 junk.mp3
failed_with junk.mp3
run 2 <(printf junk)
[[ $(grep -c "^tonaria: /dev/fd/[0-9]*: ." err.log) == 1 ]] || { cat err.log >&2; fail "no one line about a pipe"; }
run 2 notes.txt
failed_with notes.txt
grep -q "Only supports mp3, wav, ogg, wma, ape, flac file now. And wma" err.log || fail "unsupported: $(cat err.log)"
run 2 "/$(printf 'p%.0s' {1..300}).wav"
grep -q "longer than 259 characters" err.log || fail "over-long path not refused"
run 2
grep -q "^tonaria: no file named" err.log || fail "no line when no file is named"

# A display that cannot be opened: told so, and played without a window.
DISPLAY=:999 run 0 short.wav
grep -q "cannot open display ':999'" err.log || fail "no notice of the unusable display"

for help in --help -h; do
  run 0 "$help"
  grep -q '^usage: tonaria' out.log || fail "$help prints no usage"
done
run 0 --version
version=$(sed -nE 's/^\.TH .*"tonaria ([^"]+)".*/\1/p' "$manual")
[[ "$(cat out.log)" == "tonaria $version" ]] || fail "--version says $(cat out.log), the manual $version"
run 1 --no-such-option
[[ $(wc -l <err.log) == 1 ]] || fail "an unknown option takes more than one line"

# SIGTERM quits like Exit.
sox -n -r 44100 -c 2 -b 16 long.wav synth 30 sine 440
"$tonaria" long.wav 2>err.log &
pid=$!
pids+=($pid)
# The notice of the missing display comes once the signal handlers are in place.
wait_for "the program to start" grep -q "no display" err.log
kill -TERM "$pid"
wait_for "SIGTERM to end the program" not_running "$pid"
code=0
wait "$pid" || code=$?
[[ "$code" == 0 ]] || fail "SIGTERM exit code $code"
echo "PASS"
