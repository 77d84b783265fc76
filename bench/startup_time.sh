#!/usr/bin/env bash
# Start-up time of Marquelo beside a plain Qt Widgets window of the same size (plain_window):
# from the process's start to its window being mapped on a fresh Xvfb, as seen by an X client
# watching the root window. The programs take turns within each run, so that both meet the same
# machine, and each run begins with the next one; prints each run and the medians.
# Usage: bench/startup_time.sh [runs [program...]]   (default 5 runs; builds first)
# Programs default to build/bin/plain_window, build/bin/text_window (the same window with one
# line of text) and build/bin/marquelo; further ones (an older build of marquelo, say) are timed
# the same way.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

runs=${1:-5}
shift || true
build_targets="marquelo plain_window text_window" configure_and_build >/dev/null
programs=("$build_dir/bin/plain_window" "$build_dir/bin/text_window" "$build_dir/bin/marquelo" "$@")
browser_engine_env
start_xvfb

# Milliseconds from starting program to the first MapNotify on the root window.
time_to_map() {
  local program=$1 fifo events line xev_pid app_pid start mapped=""
  # xev's lines are read as they come, through a pipe, and the clock is the shell's own: no
  # polling interval and no process start stands between the map and its time.
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  xev -root -event substructure >"$fifo" &
  xev_pid=$!
  exec {events}<"$fifo"
  # xev has selected the events once it has printed the root window's name; only then start.
  while IFS= read -r -t 5 line <&"$events"; do [[ $line == *"Outer window"* ]] && break; done
  start=$EPOCHREALTIME
  "$program" >/dev/null 2>&1 &
  app_pid=$!
  while IFS= read -r -t 4 line <&"$events"; do
    if [[ $line == MapNotify* ]]; then
      mapped=$EPOCHREALTIME
      break
    fi
  done
  kill "$app_pid" "$xev_pid" 2>/dev/null || true
  wait "$app_pid" "$xev_pid" 2>/dev/null || true
  exec {events}<&-
  rm -f "$fifo"
  [[ -n "$mapped" ]] || { echo "$program: the window was not mapped" >&2; return 1; }
  awk -v a="$start" -v b="$mapped" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
}

declare -A times=()
for run in $(seq 1 "$runs"); do
  line="run $run:"
  # The first launch of a round meets a colder machine than the others: each run starts with
  # the next program, so that every program takes every place equally often.
  order=("${programs[@]:$(((run - 1) % ${#programs[@]}))}" "${programs[@]:0:$(((run - 1) % ${#programs[@]}))}")
  for program in "${order[@]}"; do
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
