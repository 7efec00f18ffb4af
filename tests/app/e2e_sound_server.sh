#!/usr/bin/env bash
# The program headless against a sound server of the test's own (private runtime
# folder; started here and stopped by its id): it plays through the server and says
# nothing about it; a frozen server never holds up SIGTERM or SIGINT (the program ends
# within a second); a server restarted within seconds is survived; one gone for good
# ends the playback with one line about the file and exit code 3.
# usage: e2e_sound_server.sh TONARIA WORK_DIR   (exit 77: no pulseaudio here)
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 work=$2
command -v pulseaudio >/dev/null && command -v pactl >/dev/null || exit 77
rm -rf "$work"
mkdir -p "$work/server"
chmod 700 "$work/server"
cd "$work"
unset DISPLAY WAYLAND_DISPLAY SDL_AUDIODRIVER
export TONARIA_NO_MPRIS=1 XDG_RUNTIME_DIR="$work/server" PULSE_SERVER="unix:$work/server/pulse/native"
# Under ThreadSanitizer a program sleeps a second at exit unless told not to; the
# second measured here is the program's own.
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}atexit_sleep_ms=0"
cat >server/pa.pa <<'EOF'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=test rate=44100 format=s16le channels=2
set-default-sink test
EOF

server=""
start_server() {
  rm -f server/pulse/native
  HOME="$work/server" pulseaudio -n -F server/pa.pa --exit-idle-time=-1 --daemonize=no \
    --disallow-exit=yes --use-pid-file=no --realtime=no >server/log 2>&1 &
  server=$!
  pids+=("$server")
  wait_for "the sound server" timeout 2 pactl info
}
stop_server() {
  kill -CONT "$server" 2>/dev/null || true
  kill -KILL "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}
playing() { [[ -n "$(timeout 2 pactl list short sink-inputs)" ]]; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# play FILE: starts tonaria on FILE in the background (PLAYER), output in err.log.
play() {
  "$tonaria" "$1" >out.log 2>err.log &
  PLAYER=$!
  pids+=("$PLAYER")
  wait_for "playback through the server" playing
}
# wait_for_end: waits, bounded, for PLAYER to end; its exit code in CODE.
wait_for_end() {
  local deadline=$((SECONDS + BOUND_SECONDS))
  while kill -0 "$PLAYER" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "tonaria did not end"
    sleep 0.02
  done
  CODE=0
  wait "$PLAYER" || CODE=$?
}
# ends_within_a_second SIGNAL: sends it to PLAYER and checks that it is gone within 1 s.
ends_within_a_second() {
  local sent
  sent=$(now_ms)
  kill -"$1" "$PLAYER"
  while kill -0 "$PLAYER" 2>/dev/null && (($(now_ms) - sent < 5000)); do sleep 0.01; done
  local took=$(($(now_ms) - sent))
  ((took <= 1000)) || fail "SIG$1 took ${took} ms with the server frozen"
  wait "$PLAYER" 2>/dev/null || true
  echo "  ended ${took} ms after SIG$1"
}

sox -n -r 44100 -c 2 -b 16 short.wav synth 1.5 sine 440
sox -n -r 44100 -c 2 -b 16 long.wav synth 30 sine 440
sox -n -r 44100 -c 2 -b 16 five.wav synth 5 sine 440
start_server

echo "a file plays through the server, exit 0, nothing said about the sound"
play short.wav
wait_for_end
[[ $CODE == 0 ]] || { cat err.log >&2; fail "exit $CODE, expected 0"; }
if grep -e "sound server" -e "ALSA" -e "sound device" err.log >&2; then fail "a notice about the sound"; fi

echo "no server answering: said once, played through ALSA (here: no sound device, silence)"
code=0
PULSE_SERVER="unix:$work/nowhere" timeout "$BOUND_SECONDS" "$tonaria" short.wav >out.log 2>err.log || code=$?
[[ $code == 0 ]] || { cat err.log >&2; fail "exit $code without a server"; }
[[ $(grep -c "^tonaria: no sound server; playing through ALSA$" err.log) == 1 ]] ||
  { cat err.log >&2; fail "not said once that there is no sound server"; }

echo "SDL_AUDIODRIVER named by the user: SDL plays, the server is not used"
SDL_AUDIODRIVER=dummy "$tonaria" long.wav >out.log 2>err.log &
PLAYER=$!
pids+=("$PLAYER")
sleep 1
kill -0 "$PLAYER" || fail "tonaria ended on SDL's dummy driver"
playing && fail "the server was used although SDL_AUDIODRIVER was set"
kill -TERM "$PLAYER"
wait "$PLAYER" || true
if grep "sound server" err.log >&2; then fail "a notice about the sound server"; fi

for signal in TERM INT; do
  echo "a server frozen for 3 s, then SIG$signal: the program ends within a second"
  play long.wav
  kill -STOP "$server"
  sleep 3
  kill -0 "$PLAYER" || fail "the program ended while the server was frozen"
  ends_within_a_second "$signal"
  kill -CONT "$server"
done

echo "the server killed and started again 2 s later: the file plays to its end, exit 0"
play five.wav
stop_server
sleep 2
start_server
wait_for_end
[[ $CODE == 0 ]] || { cat err.log >&2; fail "exit $CODE after a restart, expected 0"; }

echo "the server gone for good: one line about the file, exit 3, after ten seconds or more"
play long.wav
stop_server
killed=$SECONDS
wait_for_end
[[ $CODE == 3 ]] || { cat err.log >&2; fail "exit $CODE, expected 3"; }
((SECONDS - killed >= 10)) || fail "gave up after less than ten seconds"
[[ $(grep -c "^tonaria: $(realpath long.wav): the sound server went away$" err.log) == 1 ]] ||
  { cat err.log >&2; fail "no line saying the server went away"; }
echo "PASS"
