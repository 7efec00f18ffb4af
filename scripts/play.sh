#!/usr/bin/env bash
# Sets everything up and plays FILE, or the generated demo track when none is named.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
exec build/default/app/tonaria "$@"
