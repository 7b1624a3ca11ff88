#!/usr/bin/env bash
# Installs what is missing, builds the release preset and starts Sonvera.
# Arguments are handed to the program (for example --config FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/app/sonvera "$@"
