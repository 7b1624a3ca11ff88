#!/usr/bin/env bash
# Installs what is missing, builds the release preset and writes the Debian package
# build/release/sonvera_<version>_<arch>.deb (install it with `apt install ./sonvera_*.deb`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
cd build/release
rm -f sonvera_*.deb
cpack -G DEB --config CPackConfig.cmake
ls "$PWD"/sonvera_*.deb
