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

#   make_work_dir
# Makes a scratch directory for the run in $work; when the script exits, the nginx that
# start_nginx started (nginx_pid) is stopped and the directory removed.
make_work_dir() {
  work=$(mktemp -d)
  nginx_pid=""
  at_exit remove_work_dir
}
remove_work_dir() {
  if [[ -n "$nginx_pid" ]]; then
    kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  fi
  rm -rf "$work"
}

#   free_port
# prints a TCP port on 127.0.0.1 that is free now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

#   start_nginx WORK PORT [SERVER_BLOCKS]
# starts nginx in the background serving WORK/www on 127.0.0.1:PORT, with SERVER_BLOCKS (nginx
# text) besides, its files under WORK, and sets nginx_pid; the caller stops it. Returns once
# WORK/www/small.txt can be fetched in clear text.
start_nginx() {
  local work=$1 port=$2 extra=${3:-} user_line=""
  mkdir -p "$work/temp"
  [[ $(id -u) -eq 0 ]] && user_line="user nobody nogroup;"
  cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/temp; proxy_temp_path $work/temp; fastcgi_temp_path $work/temp;
  uwsgi_temp_path $work/temp; scgi_temp_path $work/temp;
  default_type application/octet-stream;
  sendfile on;
  keepalive_requests 100000;
  server { listen 127.0.0.1:$port; root $work/www; }
  $extra
}
CONF
  nginx -c "$work/nginx.conf" -p "$work" &
  nginx_pid=$!
  local _
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/small.txt" && return 0
    sleep 0.05
  done
  echo "nginx did not answer on port $port" >&2
  return 1
}
