#!/usr/bin/env bash
# The time a query of the desktop's proxy settings adds to a fetch, for GNOME's three kinds of
# setting: none (direct), a manual http proxy, and a PAC file served over http on loopback; and
# how often the PAC file was fetched in each process (once is right: not once per query).
# The manual setting runs once more with the worker prepared a second ahead, as the window
# prepares it once it shows. Each kind runs RUNS processes (default 5) of COUNT queries (default 200), each in a private
# session bus and home, and prints per process what bench/desktop_proxy_bench measured.
#
#   bench/desktop_proxy.sh [RUNS] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=${1:-5}
count=${2:-200}
bench=$here/../build/bin/desktop_proxy_bench

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
cat >"$work/proxy.pac" <<'PAC'
function FindProxyForURL(url, host) {
  if (isPlainHostName(host) || dnsDomainIs(host, ".intranet.test"))
    return "DIRECT";
  return "PROXY a.test:3128; PROXY b.test:3128; DIRECT";
}
PAC
(cd "$work" && exec python3 -u -m http.server 0 --bind 127.0.0.1 >"$work/server.log" 2>&1) &
for _ in $(seq 50); do
  grep -q 'port' "$work/server.log" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$work/server.log" | head -1)

# run KIND SETTING...: one process in a fresh session with each "schema key value" set.
run() {
  local kind=$1
  shift
  local home
  home=$(mktemp -d "$work/home.XXXX")
  mkdir -m 700 "$home/run"
  env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY -u no_proxy \
    -u NO_PROXY -u DBUS_SESSION_BUS_ADDRESS HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" XDG_CURRENT_DESKTOP=GNOME \
    DESKTOP_SESSION=gnome dbus-run-session -- sh -c '
      while [ "$1" != -- ]; do gsettings set "$1" "$2" "$3"; shift 3; done; shift; exec "$@"' \
    sh "$@" -- "$bench" "$count" ${prepared:-} 2>/dev/null
}

for ((i = 0; i < runs; i++)); do
  printf 'direct  '
  run direct org.gnome.system.proxy mode "'none'"
  printf 'manual  '
  run manual org.gnome.system.proxy mode "'manual'" org.gnome.system.proxy.http host \
    "'127.0.0.1'" org.gnome.system.proxy.http port 3128
  printf 'manual, prepared  '
  prepared=--prepared run manual org.gnome.system.proxy mode "'manual'" \
    org.gnome.system.proxy.http host "'127.0.0.1'" org.gnome.system.proxy.http port 3128
  before=$(grep -c 'GET /proxy.pac' "$work/server.log" || true)
  printf 'pac     '
  run pac org.gnome.system.proxy mode "'auto'" org.gnome.system.proxy autoconfig-url \
    "'http://127.0.0.1:$port/proxy.pac'"
  after=$(grep -c 'GET /proxy.pac' "$work/server.log" || true)
  echo "        PAC file fetched $((after - before)) time(s) in that process"
done
