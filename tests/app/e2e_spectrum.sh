#!/usr/bin/env bash
# End to end under Xvfb: the real window shows the spectrum of what is playing.
# Bars in the gradient's colours over the grid while a music-like file plays; the
# picture holds still while paused; after the file ends the last frame stays.
# usage: e2e_spectrum.sh TONARIA MAKE_DEMO WORK_DIR
source "$(dirname "$0")/e2e_common.sh"
tonaria=$1 make_demo=$2 work=$3
mkdir -p "$work"
demo="$work/demo.wav"
music="$work/music.wav"
[[ -f "$demo" ]] || "$make_demo" "$demo" >/dev/null
[[ -f "$music" ]] || sox "$demo" "$music" trim 0 4
export SDL_AUDIODRIVER=dummy TONARIA_NO_MPRIS=1
start_xvfb

shot() { import -window "$WID" "$work/$1.png"; }
# Pixels of the screenshot as "r g b" lines.
pixels() {
  convert "$work/$1.png" -depth 8 txt:- | sed -nE 's/^[^(]*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/p'
}
# Gradient colours run from red through yellow to green, all without blue.
gradient_pixels() { pixels "$1" | awk '$3 < 40 && ($2 > 120 || $1 > 200) { n++ } END { print n + 0 }'; }
grid_pixels() { pixels "$1" | awk '$1 == 22 && $2 == 53 && $3 == 3 { n++ } END { print n + 0 }'; }
same_picture() { [[ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1)" == "0" ]]; }
# still NAME: takes two screenshots a moment apart and succeeds when they are equal.
still() {
  shot "$1-a"
  sleep 0.3  # an interval to look for change over, not a wait for an event
  shot "$1-b"
  same_picture "$1-a" "$1-b"
}
has_bars() { (($(gradient_pixels "$1") > 20)); }

"$tonaria" "$music" >"$work/out.log" 2>&1 &
PLAYER=$!
pids+=($PLAYER)
wait_for "the window" have_window
WID=$(window_id)
wait_for "[Playing]" title_ends_with "[Playing]"

echo "playing: gradient bars over the grid"
shot_with_bars() { shot playing && has_bars playing; }
wait_for "bars in the gradient's colours" shot_with_bars
(($(grid_pixels playing) > 100)) || fail "no grid columns in the picture"

echo "paused: the picture holds still"
xdotool key ctrl+2
wait_for "[Paused]" title_ends_with "[Paused]"
wait_for "a still picture" still paused
has_bars paused-b || fail "the paused picture lost its bars"
still paused-again || fail "the picture moved while paused"
same_picture paused-b paused-again-b || fail "the picture changed while paused"

echo "ended: the last frame stays"
xdotool key ctrl+1
wait_for "[Playing] again" title_ends_with "[Playing]"
BOUND_SECONDS=30 wait_for "the file to end by itself" title_ends_with "[Stopped]"
wait_for "a still picture after the end" still ended
(($(grid_pixels ended-b) > 100)) || fail "the last frame did not stay"
echo "PASS"
