#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages from this tree: korvel (the console),
# libkorvel-netbios1 (the library) and libkorvel-netbios-dev (its header and
# pkg-config file). On a fresh Debian 12 it first installs what the build
# needs. The build runs in a scratch copy, so the tree is left as it was; the
# .deb files land in OUTDIR.
#   tools/build-packages.sh [OUTDIR]     (default: build/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/packages}")

if ! command -v dpkg-checkbuilddeps >/dev/null || ! dpkg-checkbuilddeps >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends build-essential dpkg-dev
  $sudo apt-get build-dep -y -q --no-install-recommends ./
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/korvel"
# The tree's own files only: no build folders, whatever they are called.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$scratch/korvel"
else
  tar --exclude=./build -cf - . | tar -xf - -C "$scratch/korvel"
fi
# No tests inside the package build (tools/run-tests.sh runs them), and no
# debug-symbol packages: the three packages only.
(cd "$scratch/korvel" && DEB_BUILD_OPTIONS="nocheck noautodbgsym ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -b -us -uc)
mkdir -p "$out"
cp "$scratch"/*.deb "$out"/
ls -1 "$out"/*.deb
