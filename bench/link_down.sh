#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# How soon a LANA's pending NCB ends once its interface goes down, through
# korveld, in a throw-away lab (not a test): korveld in h1, a veth pair of
# its own there as LANA 2, and `korvel-nb --lana 2 listen` pending on it.
# Each run times, from inside the namespace, `ip link set down` starting to
# the listening program saying its LISTEN ended (NRC_BRIDGE), seen by polling
# its standard error every millisecond or so; median of N. (Its exit comes
# later: korvel-nb waits on its way out for the broadcasts it sent.)
# Needs root (network namespaces). Every wait is bounded.
#   bench/link_down.sh [path/to/build] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
runs=${2:-10}
nb=$build/cli/korvel-nb
korveld=$build/korveld/korveld
[ -x "$nb" ] && [ -x "$korveld" ] || { echo "no korvel-nb or korveld under $build" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces" >&2; exit 1; }

export NETLAB_PREFIX=kl$$ NETLAB_STATE=/tmp/netlab-kl$$
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; tools/netlab down >/dev/null 2>&1 || true' EXIT
tools/netlab up 1 >/dev/null
in_h1() { timeout 120 ip netns exec "$NETLAB_PREFIX-h1" "$@"; }
socket=$NETLAB_STATE/korveld.sock
in_h1 "$korveld" --socket "$socket" --state-dir "$NETLAB_STATE/state" 2>"$NETLAB_STATE/korveld.log" &
service=$!
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
in_h1 ip link add kvb0 type veth peer name kvb1
in_h1 ip link set kvb1 up

echo "== interface down to the pending LISTEN ended ($runs runs, median, from inside the namespace) =="
in_h1 env KORVEL_PROVIDER=service KORVEL_PROVIDER_SOCKET="$socket" bash -c '
  for _ in $(seq "$2"); do
    ip addr replace 10.78.0.1/24 broadcast + dev kvb0 && ip link set kvb0 up
    out=$(mktemp)
    "$1" --lana 2 listen LINKBENCH >"$out" 2>&1 &
    listener=$!
    for _ in $(seq 200); do grep -q "^listening" "$out" && break; sleep 0.01; done
    grep -q "^listening" "$out" || { echo "never listening: $(cat "$out")" >&2; exit 1; }
    start=$(date +%s%N)
    ip link set kvb0 down
    for _ in $(seq 3000); do
      text=$(<"$out")
      [[ $text == *NRC_* ]] && break
      sleep 0.001
    done
    end=$(date +%s%N)
    [[ $text == *NRC_BRIDGE* ]] || echo "ended otherwise: $text" >&2
    wait "$listener" || true
    rm -f "$out"
    echo $(( (end - start) / 1000 ))
  done' _ "$nb" "$runs" | sort -n | awk '{a[NR]=$1} END {printf "median %.1f ms (goal 100 ms)\n", a[int((NR+1)/2)] / 1000}'
