#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a NetBIOS host name costs a program through the hosts module, in a
# throw-away lab (not a test): Samba in h2 holds its name and 2 x N aliases,
# korveld serves h1, and `getent hosts NAME` runs in h1 as a whole process
# with the module alone on the hosts line (a private nsswitch.conf bound
# over the real one in a mount namespace of its own, the module found
# through LD_LIBRARY_PATH).
#   - cached: the same name N times once the service has it; median;
#   - not cached: a fresh alias each run, answered by broadcast, paired
#     with `nmblookup` of another fresh alias (broadcast, no cache either);
#     median of the paired ratios.
# Prints `ratio` lines in compare.sh's form and exits 1 on a miss. Needs
# root (network namespaces). Every wait is bounded.
#   bench/nss_lookup.sh [path/to/build] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
runs=${2:-15}
korveld=$build/korveld/korveld
module_dir=$build/nss
[ -x "$korveld" ] && [ -e "$module_dir/libnss_korvel.so.2" ] || {
    echo "no korveld or libnss_korvel.so.2 under $build (cmake --build $build --target korveld nss_korvel)" >&2
    exit 2
}
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces" >&2; exit 2; }
command -v nmblookup >/dev/null || { echo "needs nmblookup (samba-common-bin)" >&2; exit 2; }

export NETLAB_PREFIX=kn$$ NETLAB_STATE=/tmp/netlab-kn$$
aliases=$(for i in $(seq 0 $((2 * runs))); do printf 'NSSB%02d ' "$i"; done)
export NETLAB_SMB_EXTRA="netbios aliases = $aliases"
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; tools/netlab down >/dev/null 2>&1 || true' EXIT
tools/netlab up 2 >/dev/null
tools/netlab samba h2 NSSBENCH >/dev/null
in_h1() { timeout 120 ip netns exec "$NETLAB_PREFIX-h1" "$@"; }
socket=$NETLAB_STATE/korveld.sock
in_h1 "$korveld" --socket "$socket" --state-dir "$NETLAB_STATE/state" 2>"$NETLAB_STATE/korveld.log" &
service=$!
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
[ -S "$socket" ] || { echo "korveld did not start: $(cat "$NETLAB_STATE/korveld.log")" >&2; exit 1; }
printf 'hosts: files korvel\n' >"$NETLAB_STATE/nsswitch.conf"
last=$(printf 'NSSB%02d' $((2 * runs)))
for _ in $(seq 60); do
    in_h1 nmblookup -s "$NETLAB_STATE/client.conf" "$last" 2>/dev/null | grep -q "<00>" && break
    sleep 0.5
done

# One process per lookup, timed around fork and exec, inside h1 with the
# private nsswitch.conf. Prints one line per run: microseconds of getent,
# then of nmblookup (0 where not asked for).
in_h1 unshare -m env KORVEL_PROVIDER_SOCKET="$socket" LD_LIBRARY_PATH="$module_dir" bash -c '
  set -e
  mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf
  conf=$1/client.conf runs=$2
  # Timed in the shell itself (no subshell around the clock), the command
  # alone between the two readings.
  took() {
    local s=${EPOCHREALTIME/[.,]/} e
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    e=${EPOCHREALTIME/[.,]/}
    echo $((10#$e - 10#$s))
  }
  took getent hosts NSSBENCH >/dev/null   # the service resets its LANA and caches the name
  for _ in $(seq "$runs"); do echo "cached $(took getent hosts NSSBENCH) $(took getent hosts localhost)"; done
  for i in $(seq 1 "$runs"); do
    a=$(printf "NSSB%02d" $((2 * i - 1))) b=$(printf "NSSB%02d" $((2 * i)))
    echo "fresh $(took getent hosts "$a") $(took nmblookup -s "$conf" "$b")"
  done' _ "$NETLAB_STATE" "$runs" >"$NETLAB_STATE/times"

python3 - "$NETLAB_STATE/times" <<'EOF'
import statistics, sys
cached, files, ratios, fresh, nmb = [], [], [], [], []
for line in open(sys.argv[1]):
    kind, *values = line.split()
    if kind == "cached":
        cached.append(int(values[0]) / 1000)
        files.append(int(values[1]) / 1000)
    else:
        g, n = (int(v) / 1000 for v in values)
        fresh.append(g); nmb.append(n); ratios.append(g / n)
med = statistics.median
print(f"getent, cached in the service: median {med(cached):.2f} ms over {len(cached)} runs "
      f"(getent hosts localhost, from /etc/hosts: {med(files):.2f} ms)")
print(f"getent, not cached: median {med(fresh):.1f} ms; nmblookup: median {med(nmb):.1f} ms")
missed = False
for name, value, goal in (("nss-cached-ms", med(cached), 2.0), ("nss-uncached", med(ratios), 1.2)):
    ok = value <= goal
    missed |= not ok
    print(f"ratio {name} {value:.2f} <={goal:g} {'ok' if ok else 'MISSED'}")
sys.exit(1 if missed else 0)
EOF
