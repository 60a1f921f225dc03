#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds and runs every test: the debug build, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# provider's tests under ThreadSanitizer (label "provider"), a bounded
# run of each fuzzer over the wire parsers, and the optimised build of every
# target but the tests (built only: it holds the benchmarks, and -O3 finds its own warnings),
# and the Debian packages built and checked (tools/check-packages.sh).
#   tools/run-tests.sh [default|sanitize|tsan|release|package|fuzz]...   (all when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default sanitize tsan release package fuzz)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  if [ "$preset" = package ]; then
    tools/check-packages.sh
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  case "$preset" in
    fuzz) tools/run-fuzzers.sh build/fuzz "${KORVEL_FUZZ_SECONDS:-10}" ;;
    release) ;;
    *) ctest --preset "$preset" -j "$jobs" ;;
  esac
done
