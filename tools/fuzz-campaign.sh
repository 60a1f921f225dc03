#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A fuzzing campaign: every fuzzer of the fuzz build (or those named) in
# turn, one process at a time, each for a time or a number of executions,
# from a corpus that grows from run to run in BUILD/fuzz/corpus/<name>
# (started from fuzz/seeds/<name>). Prints per target the executions,
# executions per second and crashes, then a summary line.
#   tools/fuzz-campaign.sh [--minimise] 600s [fuzz_name_service ...]   # ten minutes each
#   tools/fuzz-campaign.sh [--minimise] 10000000 [targets...]          # ten million executions each
# A crash (or hang, leak, out-of-memory) keeps its input in
# BUILD/fuzz/artifacts and the target goes on with what is left of its budget,
# up to 5 crashes. --minimise merges each corpus back into fuzz/seeds/<name>,
# keeping only inputs that add edge coverage. KORVEL_FUZZ_BUILD: the build
# directory (build/fuzz).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVEL_FUZZ_BUILD:-$root/build/fuzz}
minimise=0
if [ "${1:-}" = --minimise ]; then
  minimise=1
  shift
fi
budget=${1:?usage: fuzz-campaign.sh [--minimise] SECONDSs|EXECUTIONS [targets...]}
shift
case "$budget" in
  *s) mode=time; amount=${budget%s} ;;
  *) mode=runs; amount=$budget ;;
esac
[[ "$amount" =~ ^[0-9]+$ ]] || { echo "budget: a number of executions, or of seconds followed by s"; exit 2; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in "$build"/fuzz/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] && targets+=("$(basename "$fuzzer")")
  done
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzzers built in $build"; exit 1; }

artifacts="$build/fuzz/artifacts"
mkdir -p "$artifacts"
total_runs=0
total_crashes=0
printf '%-24s %14s %10s %8s\n' target executions exec/s crashes
for name in "${targets[@]}"; do
  fuzzer="$build/fuzz/$name"
  [ -x "$fuzzer" ] || { echo "$name: not built"; total_crashes=$((total_crashes + 1)); continue; }
  corpus="$build/fuzz/corpus/$name"
  seeds="$root/fuzz/seeds/${name#fuzz_}"
  mkdir -p "$corpus"
  [ -d "$seeds" ] && cp -rn "$seeds"/. "$corpus"/
  runs=0
  crashes=0
  started=$(date +%s)
  log=$(mktemp)
  while :; do
    if [ $mode = time ]; then
      left=$((amount - ($(date +%s) - started)))
      limit=(-max_total_time="$left")
    else
      left=$((amount - runs))
      limit=(-runs="$left")
    fi
    [ "$left" -gt 0 ] || break
    "$fuzzer" "${limit[@]}" -timeout=25 -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
      "$corpus" >"$log" 2>&1
    status=$?
    done_now=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    runs=$((runs + ${done_now:-0}))
    [ $status -eq 0 ] && break
    crashes=$((crashes + 1))
    grep -m 1 -E '^==[0-9]+==ERROR|^SUMMARY|deadly signal|timeout after|out-of-memory' "$log" | sed "s/^/  $name: /"
    grep -m 1 'Test unit written to' "$log" | sed "s/^/  $name: /"
    [ $crashes -ge 5 ] && break
  done
  rm -f "$log"
  seconds=$(($(date +%s) - started))
  printf '%-24s %14d %10d %8d\n' "$name" "$runs" $((runs / (seconds > 0 ? seconds : 1))) "$crashes"
  total_runs=$((total_runs + runs))
  total_crashes=$((total_crashes + crashes))
  if [ $minimise = 1 ]; then
    merged=$(mktemp -d)
    if "$fuzzer" -merge=1 -use_counters=0 -timeout=25 "$merged" "$corpus" >/dev/null 2>&1; then
      rm -rf "$seeds"
      mkdir -p "$seeds"
      cp "$merged"/* "$seeds"/ 2>/dev/null
      echo "  $name: $(ls "$seeds" | wc -l) seeds kept in fuzz/seeds/${name#fuzz_}"
    else
      echo "  $name: minimising failed; seeds left as they were"
    fi
    rm -rf "$merged"
  fi
done
echo "campaign: ${#targets[@]} targets, $total_runs executions, $total_crashes crashes"
[ $total_crashes -eq 0 ]
