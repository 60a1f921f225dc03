#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Start-up benchmark of the console (not a test): time from starting the
# process until its window is viewable, and its resident memory once shown.
# Runs the console several times under its own Xvfb and prints each run and
# the median.
#   bench/startup.sh [path/to/korvel] [runs]     (needs xvfb-run and xwininfo)
set -euo pipefail
korvel=${1:-build/release/console/korvel}
runs=${2:-7}
[ -x "$korvel" ] || { echo "no console at $korvel (build the korvel target first)" >&2; exit 1; }
command -v xwininfo >/dev/null || { echo "xwininfo missing (Debian package x11-utils)" >&2; exit 1; }

if [ -z "${KORVEL_BENCH_INNER:-}" ]; then
  exec env KORVEL_BENCH_INNER=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$korvel" "$runs"
fi

now_us() { echo $(( $(date +%s%N) / 1000 )); }

# The id of a viewable top-level window titled Korvel, if there is one.
viewable_console() {
  local id
  id=$(xwininfo -root -tree 2>/dev/null | awk '/"Korvel"/ {print $1; exit}')
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"
}

times=()
rss=()
anons=()
for run in $(seq "$runs"); do
  start=$(now_us)
  "$korvel" >/dev/null 2>&1 &
  pid=$!
  until viewable_console; do
    kill -0 "$pid" 2>/dev/null || { echo "console exited before showing its window" >&2; exit 1; }
    sleep 0.005
  done
  shown=$(now_us)
  sleep 1  # let it settle before reading its memory
  kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  ms=$(( (shown - start) / 1000 ))
  times+=("$ms")
  rss+=("$kb")
  anons+=("$anon")
  printf 'run %d: window shown after %d ms, resident %d KiB (%d KiB of it private)\n' "$run" "$ms" "$kb" "$anon"
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf 'median: window shown after %s ms, resident %s KiB (%s KiB private), %d runs\n' \
  "$(median "${times[@]}")" "$(median "${rss[@]}")" "$(median "${anons[@]}")" "$runs"
