#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a build into ROOT as DESTDIR (the layout the Debian packages
# carry), then builds ROOT/netbios_client against it (build_client.sh).
#   install_root.sh CMAKE BUILD_DIR ROOT CC [compiler flags...]
set -euo pipefail
cmake=$1 build=$2 root=$3
shift 3
DESTDIR=$root "$cmake" --install "$build" >/dev/null
exec "$(dirname "$0")/build_client.sh" "$root" "$@"
