#!/usr/bin/env bash
# Builds the Debian package in one command: tonaria_VERSION_ARCH.deb in build/package.
# Install it with `apt-get install ./build/package/tonaria_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh package
cd build/package
rm -f tonaria_*.deb
cpack -G DEB >/dev/null
ls "$PWD"/tonaria_*.deb
