#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Name registration and resolution with a name server against broadcast, in
# a throw-away lab (not a test): Samba's nmbd as the WINS server in h1, a
# Samba WINS client holding SAMBA1 in h2, korvel-nb in h3. Each figure is a
# whole korvel-nb run (reset, the work, release), median of N:
#   hold NAME --timeout 0   as a B-node (broadcast registration, the RFC's
#                           three tries 250 ms apart) and as an H-node with
#                           the server (one round trip);
#   names SAMBA1            resolution by broadcast query and through the server.
# Needs root (network namespaces) and samba. Every command is bounded by a timeout.
#   bench/wins_vs_broadcast.sh [path/to/korvel-nb] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
nb=$(realpath "${1:-build/release/cli/korvel-nb}")
runs=${2:-10}
[ -x "$nb" ] || { echo "no korvel-nb at $nb (build the korvel-nb target first)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces" >&2; exit 1; }
command -v nmblookup >/dev/null || { echo "nmblookup missing (tools/install-deps.sh installs it)" >&2; exit 1; }

export NETLAB_PREFIX=kw$$ NETLAB_STATE=/tmp/netlab-kw$$
trap 'tools/netlab down >/dev/null 2>&1 || true' EXIT
tools/netlab up 3 >/dev/null
wins=$(tools/netlab addr 1)
NETLAB_SMB_EXTRA="wins support = yes" tools/netlab samba 1 WINSSRV >/dev/null 2>&1
NETLAB_SMB_EXTRA="wins server = $wins" tools/netlab samba 2 SAMBA1 >/dev/null 2>&1
conf=$NETLAB_STATE/client.conf
in_h3() { timeout 120 ip netns exec "$NETLAB_PREFIX-h3" "$@"; }
for _ in $(seq 80); do
  in_h3 nmblookup -s "$conf" -U "$wins" --recursion 'SAMBA1#20' 2>/dev/null | grep -q "SAMBA1<20>" && break
  sleep 0.25
done

in_host() { in_h3 "$@"; }
. bench/lab_timing.sh
ms() { awk -v us="$1" 'BEGIN {printf "%8.1f ms", us / 1000}'; }
h="--node-type h --wins $wins"

echo "== add a name: hold BENCHNAME --timeout 0 ($runs runs each, median, whole process) =="
b_add=$(timed_runs "$nb --lana 1 --timeout 0 hold BENCHNAME" "$runs" | median)
h_add=$(timed_runs "$nb --lana 1 $h --timeout 0 hold BENCHNAME" "$runs" | median)
echo "B-node, broadcast registration: $(ms "$b_add")"
echo "H-node, name server:            $(ms "$h_add")"
echo "(both include the 550 ms korvel-nb waits on exit for its broadcast releases)"

echo "== resolve SAMBA1: names SAMBA1 ($runs runs each, median, whole process) =="
in_h3 "$nb" --lana 1 $h names SAMBA1 | grep -q "SAMBA1<20>  *$(tools/netlab addr 2)" ||
  { echo "the server did not resolve SAMBA1" >&2; exit 1; }
b_query=$(timed_runs "$nb --lana 1 names SAMBA1" "$runs" | median)
h_query=$(timed_runs "$nb --lana 1 $h names SAMBA1" "$runs" | median)
echo "B-node, broadcast query:        $(ms "$b_query")"
echo "H-node, name server:            $(ms "$h_query")"
echo "== the same process doing nothing but reset and exit =="
idle=$(timed_runs "$nb --lana 1 names" "$runs" | median)
echo "korvel-nb names (no name):      $(ms "$idle")"
