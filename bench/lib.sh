# Shared by the benchmark scripts that time whole processes beside curl.
#
#   compare_row NAME RUNS LABEL:ARRAY [LABEL:ARRAY ...]
#
# runs each command (a bash array named ARRAY) RUNS times, the commands interleaved in every
# round so that a busy moment of the machine hits them alike, and prints one line: per command
# the median wall time and the median CPU time (user + system) of the process, then the ratios
# of the first command to the second. Times come from the process's own resource use, to the
# microsecond. A command that fails ends the script.

# "wall user system" in seconds for one run of the command, its output discarded.
timed_run() {
  python3 -c '
import os, subprocess, sys, time
start = time.perf_counter()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter() - start
if status != 0:
    sys.exit("failed: " + " ".join(sys.argv[1:]))
print("%.6f %.6f %.6f" % (wall, usage.ru_utime, usage.ru_stime))
' "$@"
}

median_of() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

compare_row() {
  local name=$1 runs=$2
  shift 2
  local dir spec label array i
  dir=$(mktemp -d)
  for ((i = 0; i < runs; i++)); do
    for spec in "$@"; do
      label=${spec%%:*}
      array=${spec#*:}
      eval "timed_run \"\${${array}[@]}\"" >>"$dir/$label"
    done
  done
  local line="" walls=() cpus=()
  for spec in "$@"; do
    label=${spec%%:*}
    local wall cpu
    wall=$(awk '{ print $1 }' "$dir/$label" | median_of)
    cpu=$(awk '{ print $2 + $3 }' "$dir/$label" | median_of)
    walls+=("$wall")
    cpus+=("$cpu")
    line+=$(printf '  %s %.3f s cpu %.3f s' "$label" "$wall" "$cpu")
  done
  rm -rf "$dir"
  printf '%-22s%s   ratio wall %.2f cpu %.2f\n' "$name" "$line" \
    "$(awk -v a="${walls[0]}" -v b="${walls[1]}" 'BEGIN { print a / b }')" \
    "$(awk -v a="${cpus[0]}" -v b="${cpus[1]}" 'BEGIN { print a / b }')"
}
