#!/usr/bin/env bash
# marquelo-get beside curl against one nginx on 127.0.0.1, in clear text and over TLS (a private
# authority and a server certificate made with the openssl command line; both clients trust
# only that authority):
#   body       256 MiB with a Content-Length to /dev/null, http and https
#   kept       2000 GETs of 2 KiB on one kept connection, http and https
#   fresh      one GET of 2 KiB over https on a fresh connection: connect, handshake, first
#              bytes and the process around them
# Interleaved runs, RUNS per command (default 9); each row prints the medians of wall and CPU
# time and the ratios marquelo-get / curl. Then, per client: the system calls per MiB of the
# https body (strace -c -f), the peak resident memory of the https body (/usr/bin/time -v), the
# TLS handshakes of the 2000 kept GETs (marquelo-get -v reports each; curl's connects are
# counted), and curl's own handshake and first-byte times of a fresh connection.
#
#   bench/https.sh [RUNS]
#
# MARQUELO_GET_BEFORE=/path/to/an/older/marquelo-get adds that build as a third command in every
# row, to measure a change before and after in the same run.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/lib.sh"

runs=${1:-9}
requests=2000

"$repo_root/scripts/bootstrap" strace
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target marquelo-get >/dev/null
get="$build_dir/bin/marquelo-get"
before=${MARQUELO_GET_BEFORE:-}

make_work_dir

mkdir -p "$work/www" "$work/pki"
head -c $((256 * 1024 * 1024)) /dev/zero >"$work/www/big.bin"
head -c 2048 /dev/zero | tr '\0' 'x' >"$work/www/small.txt"

pki=$work/pki
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj "/CN=Bench Authority" -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$pki/server.key" -out "$pki/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >"$pki/ext.cnf"
openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
  -days 2 -extfile "$pki/ext.cnf" -out "$pki/server.pem" 2>/dev/null
chmod -R a+rX "$work"

port=$(free_port)
tls_port=$(free_port)
start_nginx "$work" "$port" "server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $pki/server.pem;
    ssl_certificate_key $pki/server.key;
    root $work/www;
  }"

# One row for a URL list: marquelo-get, curl, and the older build when there is one.
row() {
  local name=$1 runs=$2
  shift 2
  local urls=("$@") url
  ours=("$get" --cacert "$pki/ca.pem" -o /dev/null "${urls[@]}")
  theirs=(curl -s --cacert "$pki/ca.pem")
  for url in "${urls[@]}"; do theirs+=(-o /dev/null "$url"); done
  local specs=(marquelo-get:ours curl:theirs)
  if [[ -n "$before" ]]; then
    old=("$before" --cacert "$pki/ca.pem" -o /dev/null "${urls[@]}")
    specs+=(before:old)
  fi
  compare_row "$name" "$runs" "${specs[@]}"
}

repeated() {
  local i
  for ((i = 0; i < requests; i++)); do printf '%s\n' "$1"; done
}

http=http://127.0.0.1:$port
https=https://127.0.0.1:$tls_port
mapfile -t kept_http < <(repeated "$http/small.txt")
mapfile -t kept_https < <(repeated "$https/small.txt")

echo "nginx on 127.0.0.1, median of $runs interleaved runs (kept: $(((runs + 1) / 2)) runs)"
row "body http" "$runs" "$http/big.bin"
row "body https" "$runs" "$https/big.bin"
row "kept http" $(((runs + 1) / 2)) "${kept_http[@]}"
row "kept https" $(((runs + 1) / 2)) "${kept_https[@]}"
row "fresh https" "$((runs * 2 + 1))" "$https/small.txt"

# System calls of one run: "name count" for the calls that move or wait for bytes.
syscalls_per_mib() {
  strace -c -f -o "$work/strace" "$@" >/dev/null
  awk '$NF ~ /^(recvfrom|read|poll|ppoll|write|sendto)$/ { calls[$NF] = $4; total += $4 }
       END { for (c in calls) printf "%s %.1f  ", c, calls[c] / 256; printf "all %.1f", total / 256 }' \
    "$work/strace"
}
printf 'system calls per MiB, https body:\n  marquelo-get  %s\n  curl          %s\n' \
  "$(syscalls_per_mib "$get" --cacert "$pki/ca.pem" -o /dev/null "$https/big.bin")" \
  "$(syscalls_per_mib curl -s --cacert "$pki/ca.pem" -o /dev/null "$https/big.bin")"

peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}
printf 'peak memory, https body: marquelo-get %d KiB, curl %d KiB\n' \
  "$(peak_kib "$get" --cacert "$pki/ca.pem" -o /dev/null "$https/big.bin")" \
  "$(peak_kib curl -s --cacert "$pki/ca.pem" -o /dev/null "$https/big.bin")"

ours_handshakes=$("$get" -v --cacert "$pki/ca.pem" -o /dev/null "${kept_https[@]}" 2>&1 |
  grep -c '^\* TLS ')
curl_connects=$(strace -f -e trace=connect -o "$work/connects" curl -s --cacert "$pki/ca.pem" \
  $(printf -- '-o /dev/null %s ' "${kept_https[@]}") >/dev/null &&
  grep -c "sin_port=htons($tls_port)" "$work/connects")
printf 'kept https, %d GETs: marquelo-get %d handshakes, curl %d connections\n' \
  "$requests" "$ours_handshakes" "$curl_connects"

for _ in $(seq 1 "$runs"); do
  curl -s --cacert "$pki/ca.pem" -o /dev/null -w '%{time_appconnect} %{time_starttransfer}\n' \
    "$https/small.txt"
done >"$work/curl_times"
printf 'fresh https, curl itself: handshake done %.4f s, first byte %.4f s after start (medians)\n' \
  "$(awk '{ print $1 }' "$work/curl_times" | median_of)" \
  "$(awk '{ print $2 }' "$work/curl_times" | median_of)"
