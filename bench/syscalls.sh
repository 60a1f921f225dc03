#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# System calls per message of each side of a figure, for each of the two
# processes (near: the benchmark, far: its child), counted by strace over one
# run of the release benchmark: what compare.sh's ratios rest on.
#   bench/syscalls.sh                       (stream-sync, stream-sync-4k, ping-pong, node-status)
#   bench/syscalls.sh stream-async
# Each side runs ITERATIONS messages (default 3000) in one go. Needs strace
# (Debian package strace). Setup calls are included, spread over the
# messages: those under 0.01 per message are left out.
set -uo pipefail
cd "$(dirname "$0")/.."
bench=build/release/bench
figures=("$@")
[ ${#figures[@]} -gt 0 ] || figures=(stream-sync stream-sync-4k ping-pong node-status)
command -v strace >/dev/null || { echo "needs strace (apt-get install strace)" >&2; exit 2; }

for figure in "${figures[@]}"; do
  case $figure in
    node-status*) binary=$bench/bench_name_status ;;
    *) binary=$bench/bench_session_transfer ;;
  esac
  for side in raw korvel; do
    dir=$(mktemp -d)
    timeout 300 strace -f -ff -o "$dir/t" "$binary" --pairs=1 --iterations="${ITERATIONS:-3000}" --benchmark_filter="^$figure/0/$side" \
      --benchmark_format=json >"$dir/out.json" 2>/dev/null
    python3 - "$dir" "$figure" "$side" <<'EOF'
import collections, glob, json, os, re, sys

directory, figure, side = sys.argv[1:]
try:
    runs = json.load(open(os.path.join(directory, "out.json")))["benchmarks"]
    messages = runs[0]["iterations"]
except (OSError, ValueError, LookupError):
    print(f"{figure} {side}: no run")
    sys.exit()
# Which task started which, and which of them are processes (no CLONE_THREAD).
parent, process = {}, {}
calls = {}
for path in glob.glob(os.path.join(directory, "t.*")):
    tid = int(path.rsplit(".", 1)[1])
    counts = collections.Counter()
    for line in open(path, errors="replace"):
        m = re.match(r"(\w+)\(", line)
        if not m:
            continue
        counts[m.group(1)] += 1
        c = re.match(r"(clone3?|fork|vfork)\((.*)\)\s+=\s+(\d+)", line)
        if c:
            child = int(c.group(3))
            parent[child] = tid
            process[child] = "CLONE_THREAD" not in c.group(2)
    calls[tid] = counts
root = min(t for t in calls if t not in parent)
def owner(tid):  # the process a task belongs to: near (the benchmark) or far
    while tid in parent and not process.get(tid, False):
        tid = parent[tid]
    return "near" if tid == root else "far"
totals = {"near": collections.Counter(), "far": collections.Counter()}
for tid, counts in calls.items():
    totals[owner(tid)].update(counts)
for who in ("near", "far"):
    top = [(n / messages, name) for name, n in totals[who].items() if n / messages >= 0.01]
    top.sort(reverse=True)
    text = ", ".join(f"{name} {per:.2f}" for per, name in top)
    print(f"{figure} {side:6} {who}: {sum(p for p, _ in top):.2f} per message ({messages} messages): {text}")
EOF
    rm -rf "$dir"
  done
done
