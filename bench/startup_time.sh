#!/usr/bin/env bash
# Start-up time of Marquelo beside a plain Qt Widgets window of the same size (plain_window):
# from the process's start to its window being mapped on a fresh Xvfb, as seen by an X client
# watching the root window. The programs take turns within each run, so that both meet the same
# machine; prints each run and the medians.
# Usage: bench/startup_time.sh [runs [program...]]   (default 5 runs; builds first)
# Programs default to build/bin/plain_window and build/bin/marquelo; further ones (an older
# build of marquelo, say) are timed the same way.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

runs=${1:-5}
shift || true
build_targets="marquelo plain_window" configure_and_build >/dev/null
programs=("$build_dir/bin/plain_window" "$build_dir/bin/marquelo" "$@")
browser_engine_env
start_xvfb

# Milliseconds from starting program to the first MapNotify on the root window.
time_to_map() {
  local program=$1 events xev_pid app_pid start mapped=""
  events=$(mktemp)
  xev -root -event substructure >"$events" &
  xev_pid=$!
  # xev has selected the events once it has printed the root window's name; only then start.
  for _ in $(seq 1 100); do grep -q "Outer window" "$events" && break; sleep 0.05; done
  start=$(date +%s%N)
  "$program" >/dev/null 2>&1 &
  app_pid=$!
  for _ in $(seq 1 2000); do
    if grep -q "^MapNotify" "$events"; then
      mapped=$(date +%s%N)
      break
    fi
    sleep 0.002
  done
  kill "$app_pid" "$xev_pid" 2>/dev/null || true
  wait "$app_pid" "$xev_pid" 2>/dev/null || true
  rm -f "$events"
  [[ -n "$mapped" ]] || { echo "$program: the window was not mapped" >&2; return 1; }
  echo $(((mapped - start) / 1000000))
}

declare -A times=()
for run in $(seq 1 "$runs"); do
  line="run $run:"
  for program in "${programs[@]}"; do
    ms=$(time_to_map "$program")
    times[$program]+="$ms "
    line+=" $(basename "$program") ${ms} ms"
  done
  echo "$line"
done
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
reference=$(median "${times[${programs[0]}]}")
for program in "${programs[@]}"; do
  m=$(median "${times[$program]}")
  echo "median of $runs runs: $program ${m} ms ($(awk -v a="$m" -v b="$reference" 'BEGIN {printf "%.2f", a / b}') x plain_window)"
done
