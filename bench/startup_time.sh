#!/usr/bin/env bash
# Start-up time of Marquelo: from the process's start to its window being mapped on a fresh
# Xvfb, as seen by an X client watching the root window. Prints each run and the median.
# Usage: bench/startup_time.sh [runs]   (default 5; builds first)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

runs=${1:-5}
configure_and_build >/dev/null
browser_engine_env
start_xvfb

times=()
for run in $(seq 1 "$runs"); do
  events=$(mktemp)
  xev -root -event substructure >"$events" &
  xev_pid=$!
  # xev has selected the events once it has printed the root window's name; only then start.
  for _ in $(seq 1 100); do grep -q "Outer window" "$events" && break; sleep 0.05; done
  start=$(date +%s%N)
  "$build_dir/bin/marquelo" >/dev/null 2>&1 &
  app_pid=$!
  mapped=""
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
  [[ -n "$mapped" ]] || { echo "run $run: the window was not mapped" >&2; exit 1; }
  ms=$(((mapped - start) / 1000000))
  times+=("$ms")
  echo "run $run: ${ms} ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
echo "median of $runs runs: ${median} ms"
