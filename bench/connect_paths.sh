#!/usr/bin/env bash
# Time to the end of a small GET through the paths a real network puts between a name and a
# server, marquelo-get beside curl, each inside a private network and mount namespace:
#
#   refuse.test   ::1 (nothing listens there: refused) and 127.0.0.1 (the server)
#   silent6.test  fd00::2 (on a link where no neighbour answers: the connect hears nothing)
#                 and 127.0.0.1 (the server)
#   stall.test    not in the hosts file, and the name server never answers; both programs
#                 get a 2 s limit for the whole fetch
#
#   bench/connect_paths.sh [RUNS] [MARQUELO_GET ...]
#
# Prints per name and program the median wall time of RUNS runs (default 5) and the exit
# status of the last run. Then, when build/bin/cancel_and_close exists and xvfb-run is there,
# the window's Esc pressed during the stalled lookup of stall.test. Needs root (unshare, ip, mount). A further MARQUELO_GET (say a build
# of another revision) is timed beside the first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=${1:-5}
shift || true
programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  programs=("$here/../build/bin/marquelo-get")
fi

if [ "${CONNECT_PATHS_INSIDE:-}" != 1 ]; then
  exec unshare -m -n env CONNECT_PATHS_INSIDE=1 "$0" "$runs" "${programs[@]}"
fi

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
mount --make-rprivate /

ip link set lo up
ip link add v0 type veth peer name v1
ip addr add fd00::1/64 dev v0 nodad
ip link set v0 up
ip link set v1 up

printf '127.0.0.1 localhost\n::1 refuse.test\n127.0.0.1 refuse.test\nfd00::2 silent6.test\n127.0.0.1 silent6.test\n' >"$work/hosts"
printf 'hosts: files dns\n' >"$work/nsswitch.conf"
printf 'nameserver 127.0.0.77\noptions timeout:30 attempts:1\n' >"$work/resolv.conf"
for f in hosts nsswitch.conf resolv.conf; do
  mount --bind "$work/$f" "/etc/$f"
done

mkdir "$work/site"
printf 'hello\n' >"$work/site/index.html"
(cd "$work/site" && exec python3 -m http.server --bind 127.0.0.1 8089 >/dev/null 2>&1) &
python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.77", 53))
time.sleep(3600)
' &
for _ in $(seq 100); do
  curl -s -o /dev/null http://127.0.0.1:8089/ && break
  sleep 0.05
done

# "seconds status" of one run.
one_run() {
  python3 -c '
import subprocess, sys, time
start = time.perf_counter()
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print("%.4f %d" % (time.perf_counter() - start, status))
' "$@"
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf '%-14s %-40s %10s %7s\n' name program median_s exit
for name in refuse.test silent6.test stall.test; do
  url="http://$name:8089/"
  declare -a commands=()
  commands+=("curl -s --max-time 2 -o /dev/null $url")
  for program in "${programs[@]}"; do
    commands+=("$program --max-time 2000 -o /dev/null $url")
  done
  for command in "${commands[@]}"; do
    : >"$work/times"
    status=0
    for ((i = 0; i < runs; i++)); do
      read -r seconds status < <(one_run $command)
      echo "$seconds" >>"$work/times"
    done
    label=${command%% *}
    label=${label: -40}
    printf '%-14s %-40s %10s %7s\n' "$name" "${label:-${command%% *}}" "$(median <"$work/times")" "$status"
  done
done

window_bench="$here/../build/bin/cancel_and_close"
if [ -x "$window_bench" ] && command -v xvfb-run >/dev/null; then
  QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu \
    MARQUELO_BENCH_STALLED_ADDRESS=http://stall.test:8089/photos/someone/ \
    xvfb-run -a "$window_bench" "$runs"
fi
