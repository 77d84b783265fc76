# The local demo service (tools/demo-service/serve) for scripts that run Marquelo against it.
# Needs common.sh first.

demo_build_dir=${MARQUELO_DEMO_BUILD_DIR:-$repo_root/build-demo}
declare -A service=()

# Starts the demo service, fills `service` with what it prints (pid, port, host, dir and the
# addresses photostream, set, group, redirect, player) and stops it when the script exits.
# The port of the last run is asked for first: the same host keeps build-demo from rebuilding
# what depends on it.
start_demo_service() {
  local port_file="$demo_build_dir/demo-port" serve="$repo_root/tools/demo-service/serve"
  local output="" key value
  if [[ -s "$port_file" ]]; then
    output=$("$serve" --background --port "$(<"$port_file")" 2>/dev/null) || output=""
  fi
  [[ -n "$output" ]] || output=$("$serve" --background)
  while IFS='=' read -r key value; do
    service[$key]=$value
  done <<<"$output"
  at_exit stop_demo_service
  mkdir -p "$demo_build_dir"
  echo "${service[port]}" >"$port_file"
}

# Asks the service to stop (it stops nginx and removes its directory) and waits up to 15 s.
stop_demo_service() {
  local pid=${service[pid]:-}
  [[ -n "$pid" ]] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 150); do
    process_gone "$pid" && return 0
    sleep 0.1
  done
  echo "the demo service (pid $pid) did not stop within 15 s" >&2
}

# True when the process has ended; one that nobody has reaped yet counts as ended.
process_gone() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
  [[ -z "$state" || "$state" == Z ]]
}

# Builds the given targets in the demo build directory, with the service's address as
# Marquelo's service host. Needs start_demo_service first.
build_for_demo_service() {
  build_dir=$demo_build_dir build_targets="$*" \
    configure_and_build -DMARQUELO_SERVICE_HOST="${service[host]}"
}
