#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages Korvel builds, runs and tests with.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libwxgtk3.2-dev wx-common libasio-dev libsystemd-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth adwaita-icon-theme fonts-dejavu-core x11-utils desktop-file-utils
  iproute2 samba smbclient tshark procps jq nbtscan nftables iptables libnetfilter-queue-dev
  build-essential dpkg-dev debhelper lintian appstream libcap2-bin systemd
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
# Installing samba must not start its daemons on this machine's interfaces: the
# tests start their own inside network namespaces.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
  made_policy=1
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
[ "$made_policy" = 0 ] || $sudo rm -f "$policy"
