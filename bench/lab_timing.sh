# SPDX-License-Identifier: MIT
# Sourced by the lab benchmarks, which define in_host() to enter the lab host
# they time from.
# timed_runs COMMAND N: runs the command line N times inside that host and
# prints each run's microseconds (as a whole process, from inside the
# namespace: no `ip netns exec` in what is timed).
timed_runs() {
  in_host bash -c '
    for _ in $(seq "$2"); do
      start=$(date +%s%N)
      eval "$1" >/dev/null 2>&1 || echo "failed: $1" >&2
      end=$(date +%s%N)
      echo $(( (end - start) / 1000 ))
    done' _ "$1" "$2"
}
# The middle of the numbers on standard input.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
