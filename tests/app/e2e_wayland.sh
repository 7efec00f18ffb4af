#!/usr/bin/env bash
# End to end in a Wayland session without any X server (a headless weston): the
# program opens its window natively, plays, and ends cleanly on SIGTERM; its hot
# keys go through a fake desktop portal on a private session bus, and without one
# it says once that they are off; where the desktop gives them no keys yet, it says
# once where to assign them, lets X11 grabs stand in, and takes the keys the user
# assigns later. First, a Wayland display nobody serves must not
# make it abort. Exits 77 (skipped) where weston or Qt's Wayland plugin is missing.
# usage: e2e_wayland.sh TONARIA FAKE_PORTAL WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 fake_portal=$2 work=$3
said() { grep -q -- "$1" "$2"; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"
sox -n -r 44100 -c 2 -b 16 long.wav synth 60 sine 440
sox -n -r 44100 -c 2 -b 16 short.wav synth 0.5 sine 440

echo "a Wayland display that nobody serves: no abort, played without a window"
code=0
env -u DISPLAY -u QT_QPA_PLATFORM WAYLAND_DISPLAY=tonaria-nobody SDL_AUDIODRIVER=dummy timeout "$BOUND_SECONDS" "$tonaria" short.wav \
  2>nobody.err || code=$?
[[ "$code" == 0 ]] || fail "exit code $code: $(cat nobody.err)"
said "cannot connect to Wayland display 'tonaria-nobody'; running without a window" nobody.err ||
  fail "not said why there is no window: $(cat nobody.err)"

command -v weston >/dev/null && command -v dbus-daemon >/dev/null && command -v playerctl >/dev/null ||
  { echo "SKIP: needs weston, dbus-daemon and playerctl (scripts/install-deps.sh)"; exit 77; }
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so" >/dev/null ||
  { echo "SKIP: needs Qt's Wayland platform plugin (qt6-wayland)"; exit 77; }

unset DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_STARTER_ADDRESS XDG_SESSION_TYPE QT_QPA_PLATFORM
XDG_RUNTIME_DIR=$(mktemp -d)  # private, 0700, as the Wayland socket needs
export XDG_RUNTIME_DIR WAYLAND_DISPLAY=tonaria-e2e SDL_AUDIODRIVER=disk
# Mesa's EGL is built without frame pointers: under LeakSanitizer only full stacks
# reach the library its suppression names.
[[ -n "${LSAN_OPTIONS:-}" ]] && export LSAN_OPTIONS="$LSAN_OPTIONS:fast_unwind_on_malloc=0"
trap 'cleanup; rm -rf "$XDG_RUNTIME_DIR"' EXIT
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >weston.log 2>&1 &
pids+=($!)
wait_for "the compositor's socket" test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"

size() { stat -c %s "$1" 2>/dev/null || echo 0; }
larger_than() { (($(size "$1") > $2)); }
status_is() { [[ "$(playerctl -p tonaria status 2>/dev/null)" == "$1" ]]; }

# start NAME: plays long.wav into NAME.raw; stderr in NAME.err. Sets PLAYER.
start() {
  SDL_DISKAUDIOFILE="$1.raw" "$tonaria" "$work/long.wav" >"$1.out" 2>"$1.err" &
  PLAYER=$!
  pids+=($PLAYER)
}

# expect_exit CODE: waits (bounded) for the player to end with that exit code.
expect_exit() {
  wait_for "the program to exit" not_running "$PLAYER"
  local code=0
  wait "$PLAYER" || code=$?
  [[ "$code" == "$1" ]] || { cat "$work"/*.err >&2; fail "exit code $code, expected $1"; }
}

# start_portal NAME ARGS...: a private session bus with the fake portal on it (each
# with files of its own); what the portal prints goes to NAME.portal, commands to
# it to file descriptor 3.
start_portal() {
  local name=$1
  shift
  start_private_bus
  mkfifo "$name.in"
  "$fake_portal" "$@" <"$name.in" >"$name.portal" 2>&1 &
  pids+=($!)
  exec 3>"$name.in"
  wait_for "the fake portal" said ready "$name.portal"
}

echo "no session bus: native window, plays, hot keys off, SIGTERM ends it"
start bare
wait_for "the capture to start" larger_than bare.raw 0
played=$(size bare.raw)
wait_for "the capture to grow" larger_than bare.raw "$played"
said "without a window" bare.err && fail "no native window: $(cat bare.err)"
[[ $(grep -c "Ctrl+1..4 are off" bare.err) == 1 ]] || fail "not said once that the hot keys are off: $(cat bare.err)"
stray=$(grep -v '^tonaria: ' bare.err || true)
[[ -z "$stray" ]] || fail "lines on stderr that are not the program's: $stray"
kill -TERM "$PLAYER"
expect_exit 0

echo "the portal binds Ctrl+1..4 and its activations drive the player"
start_portal bound
start bound
wait_for "the shortcuts bound" said "exit CTRL+4 Exit" bound.portal
for binding in "play CTRL+1 Play" "pause CTRL+2 Pause" "stop CTRL+3 Stop"; do
  said "$binding" bound.portal || fail "not bound: $binding"
done
wait_for "Playing" status_is Playing
echo "activate pause" >&3
wait_for "Ctrl+2 -> Paused" status_is Paused
echo "activate play" >&3
wait_for "Ctrl+1 -> Playing" status_is Playing
echo "activate exit" >&3
expect_exit 0
wait_for "the session closed" said "close " bound.portal
said "Ctrl+1..4" bound.err && fail "a fallback was announced: $(cat bound.err)"
exec 3>&-

echo "a desktop that gives two of the keys only: said once which are missing and where; assigned later, they work"
start_portal partial --assigned=play,pause
start partial
wait_for "the missing keys said" said "the desktop has not given keys to Stop (Ctrl+3) and Exit (Ctrl+4); assign them to Tonaria in the desktop's shortcut settings (until then they are off" partial.err
wait_for "Playing" status_is Playing
echo "assign play,pause,stop,exit" >&3
echo "activate stop" >&3
wait_for "Ctrl+3 once assigned -> Stopped" status_is Stopped
kill -TERM "$PLAYER"
expect_exit 0
[[ $(grep -c "desktop" partial.err) == 1 ]] || fail "not said once: $(cat partial.err)"
exec 3>&-

echo "TONARIA_NO_MPRIS=1: off D-Bus, so the portal is not asked"
start_portal quiet
TONARIA_NO_MPRIS=1 start quiet
wait_for "the hot keys said off" said "keeps the program off D-Bus and the desktop portal; Ctrl+1..4 are off" quiet.err
kill -TERM "$PLAYER"
expect_exit 0
[[ $(wc -l <quiet.portal) == 1 ]] || fail "the portal was asked: $(cat quiet.portal)"
exec 3>&-

echo "a portal that refuses the session: said once, hot keys off; the window is a Wayland toplevel"
start_portal refused --refuse-session=2
WAYLAND_DEBUG=client start refused  # the protocol trace shows the window's own requests
wait_for "the refusal said" said "refused a session; Ctrl+1..4 are off" refused.err
wait_for "a toplevel titled as playing" said 'set_title("Tonaria - \[long.wav\]\[Playing\]")' refused.err
kill -TERM "$PLAYER"
expect_exit 0
[[ $(grep -c "Ctrl+1..4" refused.err) == 1 ]] || fail "said more than once: $(cat refused.err)"
exec 3>&-
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "PASS (without the XWayland case)"; exit 0; }
echo "XWayland and a portal without global shortcuts: the window on X11, X11 key grabs, said once"
start_portal xwayland --without-global-shortcuts
start_xvfb  # stands in for XWayland beside the compositor; it unsets WAYLAND_DISPLAY
export WAYLAND_DISPLAY=tonaria-e2e
start xwayland
wait_for "the X11 window" have_window
WID=$(window_id)
wait_for "the fallback said" said "the desktop portal has no global shortcuts; Ctrl+1..4 go through X11 key grabs" \
  xwayland.err
xdotool key ctrl+2
wait_for "Ctrl+2 -> [Paused]" title_ends_with "[Paused]"
kill -TERM "$PLAYER"
expect_exit 0
[[ $(grep -c "Ctrl+1..4" xwayland.err) == 1 ]] || fail "said more than once: $(cat xwayland.err)"
exec 3>&-

echo "XWayland and a portal that gives no keys yet: X11 grabs stand in until the user assigns them"
start_portal unassigned --assigned=
start unassigned
wait_for "the X11 window" have_window
WID=$(window_id)
wait_for "the missing keys said" said "the desktop has not given keys to Play (Ctrl+1), Pause (Ctrl+2), Stop (Ctrl+3) and Exit (Ctrl+4); assign them to Tonaria in the desktop's shortcut settings (until then they go through X11 key grabs" \
  unassigned.err
xdotool key ctrl+2
wait_for "Ctrl+2 through X11 -> [Paused]" title_ends_with "[Paused]"
echo "assign play,pause,stop,exit" >&3
# Signals from one sender come in order: once this activation shows, the new keys have been taken.
echo "activate play" >&3
wait_for "the portal's Ctrl+1 -> [Playing]" title_ends_with "[Playing]"
# The grabs are gone: Ctrl+2 now reaches the focused window as a plain key, which does
# nothing, and the S after it stops. Keys are handled in order, so a grab still held
# would have shown [Paused] first.
xdotool windowfocus --sync "$WID"
playerctl -p tonaria --follow status >unassigned.follow 2>&1 &
pids+=($!)
wait_for "the follower" grep -q Playing unassigned.follow
xdotool key ctrl+2 s
wait_for "S -> [Stopped]" title_ends_with "[Stopped]"
wait_for "Stopped followed" grep -q Stopped unassigned.follow
grep -q Paused unassigned.follow && fail "an X11 grab outlived the key the desktop assigned"
kill -TERM "$PLAYER"
expect_exit 0
[[ $(grep -c "desktop" unassigned.err) == 1 ]] || fail "not said once: $(cat unassigned.err)"
exec 3>&-
echo "PASS"
