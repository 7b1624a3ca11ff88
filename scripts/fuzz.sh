#!/usr/bin/env bash
# Builds the fuzz targets (CMake preset "fuzz", clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each of them, one after the other, for
# SECONDS seconds (default 30) on a copy of its seed corpus in fuzz/corpus/<target>/
# plus its regression inputs in fuzz/regressions/<target>/, with the dictionary
# fuzz/<target>.dict where there is one. The repository is never
# written. Fails at the first finding; the input that failed is kept in
# build-fuzz/findings/<target>/ and its report is printed.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: config curve logsweep table overlays wave limits
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(config curve logsweep table overlays wave limits)
fi
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
  binary="build-fuzz/fuzz/fuzz_$target"
  if [ ! -x "$binary" ] || [ ! -d "fuzz/corpus/$target" ]; then
    echo "fuzz.sh: no fuzz target '$target'" >&2
    exit 2
  fi
  corpus="$work/corpus-$target"
  findings="build-fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/"$target"/* "$corpus"/
  dirs=("$corpus")
  if [ -d "fuzz/regressions/$target" ]; then
    dirs+=("fuzz/regressions/$target")  # read only: new inputs go to the first folder
  fi
  options=()
  if [ -f "fuzz/$target.dict" ]; then
    options+=(-dict="fuzz/$target.dict")  # names and forms the target's format uses
  fi
  log="$work/$target.log"
  echo "fuzz: $target for $seconds s" >&2
  status=0
  nice -n 10 "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "${options[@]}" "${dirs[@]}" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target FAILED (status $status); the input is in $findings/" >&2
    exit 1
  fi
  # The run's totals: executions, coverage (edges "cov", features "ft"), corpus size.
  grep -E '^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" >&2 || true
done
echo "fuzz: no findings in ${targets[*]}" >&2
