#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzzer built in BUILD_DIR for SECONDS each, starting from its
# seed corpus in fuzz/seeds/<name>. A fuzzer that crashes or stops with an
# error fails the run; the input that did it is kept in BUILD_DIR/fuzz/artifacts.
#   tools/run-fuzzers.sh BUILD_DIR [SECONDS]
set -uo pipefail
build=${1:?build dir}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
artifacts="$build/fuzz/artifacts"
passed=0
failed=0
failures=()
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  mkdir -p "$artifacts"
  work=$(mktemp -d)
  log="$work.log"
  seeds="$root/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "--- $name for ${seconds}s"
  if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
      "$work" >"$log" 2>&1; then
    passed=$((passed + 1))
    tail -n 12 "$log"
  else
    failed=$((failed + 1))
    failures+=("$name")
    tail -n 60 "$log"
    echo "--- $name FAILED (inputs kept in $artifacts)"
  fi
  rm -rf "$work" "$log"
done
if [ $((passed + failed)) -eq 0 ]; then
  echo "no fuzzers built in $build"
  exit 1
fi
[ "$failed" -eq 0 ] || echo "failed: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
