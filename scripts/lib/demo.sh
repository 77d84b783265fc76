# The local demo service (tools/demo-service/serve) for scripts that run Marquelo against it.
# Needs common.sh first.

demo_build_dir=${MARQUELO_DEMO_BUILD_DIR:-$repo_root/build-demo}
declare -A service=()
# What Marquelo's environment needs in the demo run, and only there: the page fetch trusts the
# demo's authority instead of the system's, and the preview learns which certificate is the
# demo server's (a demo build accepts that one alone). Pass it as `env "${demo_environment[@]}"`.
demo_environment=()

# Starts the demo service, fills `service` with what it prints (pid, port, host, https_port,
# https_host, dir, ca, certificate and the addresses photostream, set, group, redirect, player,
# each also with https_ in front), fills demo_environment, and stops the service when the
# script exits. The ports of the last run are asked for first: the same hosts keep build-demo
# from rebuilding what depends on them.
start_demo_service() {
  local port_file="$demo_build_dir/demo-ports" serve="$repo_root/tools/demo-service/serve"
  local output="" key value ports=()
  if [[ -s "$port_file" ]]; then
    read -r -a ports <"$port_file"
    if ((${#ports[@]} == 2)); then
      output=$("$serve" --background --port "${ports[0]}" --https-port "${ports[1]}" 2>/dev/null) ||
        output=""
    fi
  fi
  [[ -n "$output" ]] || output=$("$serve" --background)
  while IFS='=' read -r key value; do
    service[$key]=$value
  done <<<"$output"
  at_exit stop_demo_service
  mkdir -p "$demo_build_dir"
  echo "${service[port]} ${service[https_port]}" >"$port_file"
  demo_environment=(SSL_CERT_FILE="${service[ca]}" MARQUELO_DEMO_CERTIFICATE="${service[certificate]}")
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

# Builds the given targets in the demo build directory, with the service's addresses as
# Marquelo's service hosts, as a demo build. Needs start_demo_service first.
build_for_demo_service() {
  build_dir=$demo_build_dir build_targets="$*" \
    configure_and_build -DMARQUELO_SERVICE_HOST="${service[host]}" \
    -DMARQUELO_SERVICE_HTTPS_HOST="${service[https_host]}" -DMARQUELO_DEMO=ON
}
