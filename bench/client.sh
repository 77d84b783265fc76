#!/usr/bin/env bash
# The HTTP client beside curl, both fetching from the same nginx on 127.0.0.1:
#   big     one body of 256 MiB to /dev/null
#   many    2000 GETs of a 2 KiB file on one kept connection, all URLs on one command line
# Each is timed as wall clock over the whole process, in interleaved pairs (marquelo-get, then
# curl), RUNS pairs (default 5); the median of each side and their ratio are printed. Then the
# peak resident memory of both for the big body, from /usr/bin/time -v.
#
#   bench/client.sh [RUNS]
#
# Builds marquelo-get with release flags into the build directory first.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/lib.sh"

runs=${1:-5}
big_size=$((256 * 1024 * 1024))
small_size=2048
requests=2000

"$repo_root/scripts/bootstrap"
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target marquelo-get >/dev/null
get="$build_dir/bin/marquelo-get"

make_work_dir

mkdir -p "$work/www"
head -c "$big_size" /dev/zero >"$work/www/big.bin"
head -c "$small_size" /dev/zero | tr '\0' 'x' >"$work/www/small.txt"
chmod -R a+rX "$work"

port=$(free_port)
start_nginx "$work" "$port"

big_url="http://127.0.0.1:$port/big.bin"
small_url="http://127.0.0.1:$port/small.txt"
get_many=(-o /dev/null)
curl_many=(-s)
for _ in $(seq 1 "$requests"); do
  get_many+=("$small_url")
  curl_many+=(-o /dev/null "$small_url")
done

# Seconds a command takes, start to exit; fails the script when the command fails.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

compare() {
  local name=$1 ours theirs
  shift
  local -a ours_cmd theirs_cmd
  eval "ours_cmd=(\"\${$1[@]}\")"
  eval "theirs_cmd=(\"\${$2[@]}\")"
  : >"$work/ours" >"$work/theirs"
  for _ in $(seq 1 "$runs"); do
    seconds "${ours_cmd[@]}" >>"$work/ours"
    seconds "${theirs_cmd[@]}" >>"$work/theirs"
  done
  ours=$(median <"$work/ours")
  theirs=$(median <"$work/theirs")
  printf '%-6s marquelo-get %8.3f s   curl %8.3f s   ratio %5.2f   (median of %d pairs)\n' \
    "$name" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')" "$runs"
}

big_ours=("$get" -o /dev/null "$big_url")
big_curl=(curl -s -o /dev/null "$big_url")
many_ours=("$get" "${get_many[@]}")
many_curl=(curl "${curl_many[@]}")

compare big big_ours big_curl
compare many many_ours many_curl

peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}
printf 'peak   marquelo-get %8d KiB   curl %8d KiB   (256 MiB body to /dev/null)\n' \
  "$(peak_kib "${big_ours[@]}")" "$(peak_kib "${big_curl[@]}")"
