#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the debug build, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, a
# bounded run of each fuzzer over the wire parsers, and the Debian packages
# built and checked (tools/check-packages.sh).
#   tools/run-tests.sh [default|sanitize|fuzz|package]...   (all when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default sanitize fuzz package)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  if [ "$preset" = package ]; then
    tools/check-packages.sh
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = fuzz ]; then
    tools/run-fuzzers.sh build/fuzz "${KORVEL_FUZZ_SECONDS:-10}"
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done
