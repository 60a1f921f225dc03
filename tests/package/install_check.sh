#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What another program sees of an installed build: nb30.h compiles as C and
# as C++, a C program builds with pkg-config and runs every asynchronous form
# on LANA 0, and the library has its SONAME and exports what nb30.h declares
# and nothing else.
#   install_check.sh CMAKE BUILD_DIR CC CXX [compiler flags...]
set -euo pipefail
cmake=$1 build=$2 cc=$3 cxx=$4
shift 4
here=$(dirname "$0")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

"$here/install_root.sh" "$cmake" "$build" "$root" "$cc" "$@"
include=$(dirname "$(find "$root" -path '*/include/korvel/nb30.h' -print -quit)")
for std in c99 c11 c17; do
  echo '#include <nb30.h>' | "$cc" -std=$std -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$include" -x c - ||
    fail "nb30.h is not valid $std"
done
for std in c++11 c++17 c++20; do
  echo '#include <nb30.h>' | "$cxx" -std=$std -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$include" -x c++ - ||
    fail "nb30.h is not valid $std"
done

lib=$(find "$root" -name 'libkorvel-netbios.so.1' -print -quit)
[ -n "$lib" ] || fail "libkorvel-netbios.so.1 was not installed"
readelf -d "$lib" | grep -q 'SONAME.*\[libkorvel-netbios\.so\.1\]' || fail "SONAME is not libkorvel-netbios.so.1"
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort | tr '\n' ' ')
expected="KORVEL_NETBIOS_1 NbtEventClose NbtEventCreate NbtEventReset NbtEventWait Netbios "
[ "$exported" = "$expected" ] || fail "exports '$exported', expected '$expected'"

output=$("$root/netbios_client" 0 async) || fail "netbios_client failed: $output"
echo "$output"
