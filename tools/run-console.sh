#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the console and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target korvel
exec build/release/console/korvel "$@"
