#!/usr/bin/env bash
# Sets everything up and runs every test: the default build, then (with --all, as
# CI does) the AddressSanitizer/UndefinedBehaviorSanitizer and ThreadSanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=(default)
[ "${1:-}" = "--all" ] && presets=(default asan tsan)

werror=()
[ -n "${CI:-}" ] && werror=(-DTONARIA_WERROR=ON)

for preset in "${presets[@]}"; do
  echo "== $preset"
  scripts/build.sh "$preset" "${werror[@]}"
  ctest --preset "$preset" -j2
done
