#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds netbios_client.c as another program would, against the header and
# library installed under ROOT (an install with DESTDIR, or unpacked Debian
# packages), flags from pkg-config. The result is ROOT/netbios_client, which
# finds the installed library through its RUNPATH.
#   build_client.sh ROOT CC [compiler flags...]
set -euo pipefail
root=$1 cc=$2
shift 2
pc=$(find "$root" -name korvel-netbios.pc -print -quit)
[ -n "$pc" ] || { echo "build_client: no korvel-netbios.pc under $root" >&2; exit 1; }
pcdir=$(dirname "$pc")
libdir=$(dirname "$pcdir")
flags=$(PKG_CONFIG_PATH='' PKG_CONFIG_LIBDIR=$pcdir PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs korvel-netbios)
# shellcheck disable=SC2086 # pkg-config's output is a list of words
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$@" -o "$root/netbios_client" \
  "$(dirname "$0")/netbios_client.c" $flags -Wl,-rpath,"$libdir"
