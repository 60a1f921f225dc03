#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# korvel-nb against the usual Samba-side tools, side by side in one run, in a
# throw-away lab (not a test): `status ADDRESS` against `nmblookup -A ADDRESS`,
# each timed as a whole process, and `scan` of the lab's /24 against nbtscan
# of the same range, with the answers compared. Needs root (network
# namespaces), samba, nbtscan. Every command is bounded by a timeout.
#   bench/cli_vs_tools.sh [path/to/korvel-nb] [status runs] [scan runs]
set -euo pipefail
cd "$(dirname "$0")/.."
nb=$(realpath "${1:-build/release/cli/korvel-nb}")
status_runs=${2:-20}
scan_runs=${3:-3}
[ -x "$nb" ] || { echo "no korvel-nb at $nb (build the korvel-nb target first)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces" >&2; exit 1; }
for tool in nmblookup nbtscan; do
  command -v "$tool" >/dev/null || { echo "$tool missing (tools/install-deps.sh installs it)" >&2; exit 1; }
done

export NETLAB_PREFIX=kb$$ NETLAB_STATE=/tmp/netlab-kb$$
trap 'tools/netlab down >/dev/null 2>&1 || true' EXIT
tools/netlab up 2 >/dev/null
tools/netlab samba 1 SAMBA1 >/dev/null 2>&1
samba=$(tools/netlab addr 1)
conf=$NETLAB_STATE/client.conf
in_h2() { timeout 120 ip netns exec "$NETLAB_PREFIX-h2" "$@"; }
for _ in $(seq 80); do
  in_h2 nmblookup -s "$conf" -A "$samba" 2>/dev/null | grep -q "SAMBA1 *<20>" && break
  sleep 0.25
done

in_host() { in_h2 "$@"; }
. bench/lab_timing.sh
ms() { awk -v us="$1" 'BEGIN {printf "%.1f ms", us / 1000}'; }

echo "== status $samba: korvel-nb vs nmblookup -A ($status_runs runs each, median) =="
in_h2 "$nb" --lana 1 status "$samba" | grep -q "SAMBA1<20>" || { echo "korvel-nb status found no SAMBA1<20>" >&2; exit 1; }
korvel=$(timed_runs "$nb --lana 1 status $samba" "$status_runs" | median)
nmblookup=$(timed_runs "nmblookup -s $conf -A $samba" "$status_runs" | median)
echo "korvel-nb status:  $(ms "$korvel")"
echo "nmblookup -A:      $(ms "$nmblookup")"
awk -v k="$korvel" -v n="$nmblookup" 'BEGIN {printf "korvel-nb takes %.2f of nmblookup'"'"'s time (goal: at most 0.25)\n", k / n}'

range=${samba%.*}.0/24
echo "== scan $range: korvel-nb vs nbtscan ($scan_runs runs each, median) =="
korvel_hosts=$(in_h2 "$nb" --lana 1 --json scan "$range" | sed -n 's/^ *"address": "\(.*\)",$/\1/p' | sort)
nbtscan_hosts=$(in_h2 nbtscan -q -s , "$range" 2>/dev/null | cut -d, -f1 | sort)
echo "korvel-nb found: $(echo $korvel_hosts)"
echo "nbtscan found:   $(echo $nbtscan_hosts)"
[ "$korvel_hosts" = "$nbtscan_hosts" ] && echo "same answers" || echo "DIFFERENT answers"
korvel=$(timed_runs "$nb --lana 1 scan $range" "$scan_runs" | median)
korvel_1s=$(timed_runs "$nb --lana 1 --timeout 1 scan $range" "$scan_runs" | median)
nbtscan=$(timed_runs "nbtscan -q $range" "$scan_runs" | median)
echo "korvel-nb scan:              $(ms "$korvel")   (provider's retries: 3 x 750 ms)"
echo "korvel-nb --timeout 1 scan:  $(ms "$korvel_1s")   (nbtscan's default wait)"
echo "nbtscan:                     $(ms "$nbtscan")"
