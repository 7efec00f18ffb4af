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

# start_xvfb: a private X server on a display number it picks itself, so another
# server on the machine can never be taken for ours. Sets DISPLAY.
start_xvfb() {
  unset WAYLAND_DISPLAY
  local number_file
  number_file=$(mktemp)
  Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset >"$number_file" 2>/dev/null &
  pids+=($!)
  wait_for "Xvfb to pick a display" grep -q '[0-9]' "$number_file"
  export DISPLAY=":$(head -n 1 "$number_file")"
  rm -f "$number_file"
  wait_for "X server $DISPLAY" xdotool getmouselocation
}

# start_private_bus: a session bus of our own for what the script starts, so that
# nothing of the machine's session is touched, nor any of its services started.
# Sets DBUS_SESSION_BUS_ADDRESS.
start_private_bus() {
  local address_file
  address_file=$(mktemp)
  dbus-daemon --config-file="$(dirname "${BASH_SOURCE[0]}")/../support/private_bus.conf" \
    --nofork --nopidfile --print-address=1 >"$address_file" 2>/dev/null &
  pids+=($!)
  wait_for "the private bus" grep -q unix: "$address_file"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$address_file")
  export DBUS_SESSION_BUS_ADDRESS
  unset DBUS_STARTER_ADDRESS
  rm -f "$address_file"
}

# The visible window of the program with process id PLAYER.
window_id() { xdotool search --onlyvisible --pid "$PLAYER" 2>/dev/null | head -n 1; }
have_window() { [[ -n "$(window_id)" ]]; }
title_ends_with() { [[ "$(xdotool getwindowname "$WID")" == *"$1" ]]; }
not_running() { ! kill -0 "$1" 2>/dev/null; }
