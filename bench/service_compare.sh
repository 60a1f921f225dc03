#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# korveld's figures in a lab of its own (tools/netlab, three hosts): korveld
# serves LANA 1 of host 2, bench_service runs there as its client, its far
# side (an in-process provider, a raw TCP echo/sink and a raw UDP answerer)
# in host 3, and a watcher of name releases in host 1. Ends with one line
# per goal, in bench/compare.sh's form:
#   ratio <figure> <measured> <goal-operator><goal> <ok|MISSED>
# and exits 1 when any goal is MISSED (2 when the build or the lab fails).
# Needs root. bench/compare.sh runs it at its end.
#   bench/service_compare.sh          PAIRS=25 bench/service_compare.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/release
pairs=${PAIRS:-15}
[ "$(id -u)" = 0 ] || { echo "service figures need root (network namespaces)" >&2; exit 2; }

[ -f $build/build.ninja ] || cmake --preset release -DKORVEL_CONSOLE=OFF >/dev/null || exit 2
log=$(mktemp)
if ! flock $build/.compare-build.lock cmake --build $build -j2 --target korveld bench_service >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 2
fi
grep -v '^ninja: no work to do' "$log" | grep -i 'warning\|error' >&2
rm -f "$log"

# A lab of this run alone: its own prefix, state and namespaces.
export NETLAB_PREFIX=ksv$$
export NETLAB_STATE=/tmp/netlab-$NETLAB_PREFIX
netlab=$root/tools/netlab
out=$(mktemp -d)
korveld=
cleanup() {
  if [ -n "$korveld" ]; then
    kill "$korveld" 2>/dev/null
    wait "$korveld" 2>/dev/null
  fi
  "$netlab" down >/dev/null 2>&1
  rm -rf "$out" "$NETLAB_STATE"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

"$netlab" up 3 >/dev/null 2>"$out/netlab.err" || { cat "$out/netlab.err" >&2; exit 2; }
socket=$NETLAB_STATE/korveld.sock
# ip netns exec execs korveld: $! is korveld's own pid, whose RSS is measured.
ip netns exec "$("$netlab" ns 2)" "$build/korveld/korveld" --foreground --socket "$socket" \
  >"$out/korveld.log" 2>&1 &
korveld=$!
for _ in $(seq 100); do
  [ -S "$socket" ] && break
  kill -0 "$korveld" 2>/dev/null || break
  sleep 0.05
done
[ -S "$socket" ] || { echo "korveld did not start:" >&2; cat "$out/korveld.log" >&2; exit 2; }

KORVEL_PROVIDER=service KORVEL_PROVIDER_SOCKET=$socket timeout $((150 + 15 * pairs)) \
  ip netns exec "$("$netlab" ns 2)" "$build/bench/bench_service" \
  --far="/run/netns/$("$netlab" ns 3)" --watch="/run/netns/$("$netlab" ns 1)" --korveld="$korveld" \
  --pairs="$pairs" --benchmark_out="$out/service.json" --benchmark_out_format=json \
  >"$out/service.txt" 2>"$out/service.err"
status=$?
cat "$out/service.err" >&2
[ $status -eq 0 ] || echo "bench_service: exit status $status" >&2
kill -0 "$korveld" 2>/dev/null || { echo "korveld died during the run:" >&2; tail -20 "$out/korveld.log" >&2; }

python3 - "$out/service.json" <<'EOF'
import sys

sys.path.insert(0, "bench")
import paired_runs
from paired_runs import middle, us

runs = paired_runs.load_runs([sys.argv[1]])
paired = lambda figure, ratio: paired_runs.paired(runs, figure, ratio)
side = lambda figure, who, value: paired_runs.side(runs, figure, who, value)

figures = {}
def report(figure, values, what, unit="", detail=""):
    m = middle(values)
    figures[figure] = m[0] if m else None
    if m:
        print(f"{figure}: {m[0]:.3f}{unit} (middle half {m[1]:.3f}-{m[2]:.3f}, {len(values)} {what}) {detail}")
    else:
        print(f"{figure}: no complete {what} {detail}")

latency = lambda k, r: us(k) / us(r)
throughput = lambda k, r: k["bytes_per_second"] / r["bytes_per_second"]
for figure, value, unit in (("service-ping-pong", us, " us"), ("service-node-status", us, " us"),
                            ("service-stream-sync", lambda b: b["bytes_per_second"] / 1e9, " GB/s")):
    k, r = middle(side(figure, "korvel", value)), middle(side(figure, "raw", value))
    detail = f"service {k[0]:.2f}{unit}, raw {r[0]:.2f}{unit}" if k and r else ""
    report(figure, paired(figure, latency if unit == " us" else throughput), "pairs", detail=detail)
for figure, side_name, call in (("service-poll-wait", "receiver", "recv()"),
                                ("service-poll-send", "sender", "sendmsg()")):
    report(figure, paired(figure, throughput), "pairs",
           detail=f"raw against raw: a {side_name} waiting in poll() as the provider's must, against one "
           f"blocking in {call}, across the same link; no goal: what that wait alone costs service-stream-sync")
floor = middle(side("service-local-status", "raw", us))
report("service-local-status-us", side("service-local-status", "korvel", us), "runs", " us",
       "NCBASTAT of *, 16 names held by 4 clients" +
       (f"; a bare AF_UNIX request and answer here: {floor[0]:.1f} us" if floor else ""))
report("service-rss-mb", side("service-rss", "korvel", lambda b: b["rss_mb"]), "runs", " MB",
       "korveld VmRSS, 10 clients x 16 names x 8 sessions")
report("service-release-ms", side("service-release", "korvel", lambda b: us(b) / 1e3), "runs", " ms",
       "kill -9 to the release on the wire")

goals = [("service-ping-pong", "<=", 1.3), ("service-stream-sync", ">=", 0.9),
         ("service-local-status-us", "<=", 25), ("service-node-status", "<=", 2),
         ("service-rss-mb", "<=", 8), ("service-release-ms", "<=", 1000)]
missed = False
print()
for figure, op, goal in goals:
    v = figures.get(figure)
    ok = v is not None and (v >= goal if op == ">=" else v <= goal)
    missed |= not ok
    shown = "nan" if v is None else f"{v:.3f}"
    print(f"ratio {figure} {shown} {op}{goal:g} {'ok' if ok else 'MISSED'}")
sys.exit(1 if missed else 0)
EOF
