# Shared by the end-to-end scripts: an Xvfb display of our own, bounded waits, and
# clean-up of everything started here.
set -euo pipefail

BOUND_SECONDS=${BOUND_SECONDS:-20}
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# wait_for DESCRIPTION COMMAND...: polls the command until it succeeds, at most BOUND_SECONDS.
wait_for() {
  local what=$1
  shift
  local deadline=$((SECONDS + BOUND_SECONDS))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "timed out waiting for: $what"
    sleep 0.05
  done
}

# start_xvfb NUMBER: a private X server on :NUMBER.
start_xvfb() {
  export DISPLAY=":$1"
  unset WAYLAND_DISPLAY
  Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  pids+=($!)
  wait_for "X server $DISPLAY" xdotool getmouselocation
}

window_id() { xdotool search --onlyvisible --name '^Tonaria' | head -n 1; }
have_window() { [[ -n "$(window_id)" ]]; }
title_ends_with() { [[ "$(xdotool getwindowname "$WID")" == *"$1" ]]; }
not_running() { ! kill -0 "$1" 2>/dev/null; }
