# Shared by the project's scripts: configure and build, an X display when there is none, and
# the browser engine's settings for machines without a GPU or when running as root.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${MARQUELO_BUILD_DIR:-$repo_root/build}

# Configures build_dir with the given cmake arguments and builds it: everything, or only the
# targets named in build_targets (a space-separated list) when it is set.
configure_and_build() {
  local targets=()
  if [[ -n "${build_targets:-}" ]]; then
    read -r -a targets <<<"$build_targets"
    targets=(--target "${targets[@]}")
  fi
  cmake -S "$repo_root" -B "$build_dir" -G Ninja "$@" >/dev/null
  cmake --build "$build_dir" "${targets[@]}"
}

# The embedded browser engine cannot use its sandbox as root, and has no GPU here.
browser_engine_env() {
  if [[ $(id -u) -eq 0 ]]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
  fi
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
}

# Commands run when the script exits, last added first, so that what started last stops first.
exit_steps=()
on_exit() {
  local i
  for ((i = ${#exit_steps[@]} - 1; i >= 0; i--)); do
    eval "${exit_steps[i]}" || true
  done
}
at_exit() {
  exit_steps+=("$1")
  trap on_exit EXIT
}

# Starts Xvfb and exports DISPLAY once the server answers; stops it when the script exits. The
# display number is MARQUELO_XVFB_DISPLAY when set (for machines where several people share
# the numbers), else the first free one.
start_xvfb() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb ${MARQUELO_XVFB_DISPLAY:+":$MARQUELO_XVFB_DISPLAY"} -displayfd 3 -screen 0 1280x1024x24 \
    -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r display <"$fifo" || true
  rm -f "$fifo"
  at_exit 'kill "$xvfb_pid" 2>/dev/null'
  if [[ -z "$display" ]]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$display"
  for _ in $(seq 1 100); do
    timeout 5 xwininfo -root >/dev/null 2>&1 && return 0
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb on $DISPLAY does not answer" >&2
  return 1
}

# Configures build_dir from the named preset of CMakePresets.json and builds; further
# arguments go to the build (for instance --target NAME).
configure_preset_and_build() {
  local preset=$1
  shift
  (cd "$repo_root" && cmake --preset "$preset" >/dev/null)
  cmake --build "$build_dir" "$@"
}

have_display() {
  [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]
}
