#!/usr/bin/env bash
# Sets everything up and plays FILE, or the demo track the build generates when no
# file is named. FILE is taken relative to the folder this is run from.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" default
(($# > 0)) || set -- "$root/build/default/demo/tonaria-demo.wav"
exec "$root/build/default/app/tonaria" "$@"
