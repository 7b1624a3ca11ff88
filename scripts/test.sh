#!/usr/bin/env bash
# Installs what is missing, builds the test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test; then builds the fuzz targets and runs
# each for about 30 s on its seed corpus (scripts/fuzz.sh). Ends with ctest's summary
# followed by the fuzz step's totals; fails on a failing test or a fuzz finding.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan "$@"
scripts/fuzz.sh 30
