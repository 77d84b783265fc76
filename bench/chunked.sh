#!/usr/bin/env bash
# Chunked bodies: marquelo-get beside curl, both fetching from bench/chunked_server.py on
# 127.0.0.1 (nginx cannot choose chunk sizes), 64 MiB in chunks of 256 bytes and of 16 KiB, to
# /dev/null and to a file. Interleaved runs, RUNS per command (default 5); each row prints the
# medians of wall and CPU time and the ratios marquelo-get / curl. Every file either side wrote
# is checked against the SHA-256 of the bytes the server sent.
#
#   bench/chunked.sh [RUNS]
#
# MARQUELO_GET_BEFORE=/path/to/an/older/marquelo-get adds that build as a third command in every
# row, to measure a change before and after in the same run.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/lib.sh"

runs=${1:-5}
mib=64
sizes=(256 16384)

"$repo_root/scripts/bootstrap"
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target marquelo-get >/dev/null
get="$build_dir/bin/marquelo-get"
before=${MARQUELO_GET_BEFORE:-}

work=$(mktemp -d)
# The server ends when its standard input closes, that is when this script ends.
coproc server { exec python3 "$repo_root/bench/chunked_server.py" "$mib" "${sizes[@]}"; }
cleanup() {
  exec {server[1]}>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
read -r port <&"${server[0]}"
base="http://127.0.0.1:$port"

check() {
  local file=$1 expected=$2 who=$3
  local actual
  actual=$(sha256sum "$file" | awk '{ print $1 }')
  if [[ "$actual" != "$expected" ]]; then
    echo "$who: the bytes written differ from those sent ($actual, expected $expected)" >&2
    exit 1
  fi
}

echo "chunked bodies of $mib MiB from 127.0.0.1, median of $runs interleaved runs"
for size in "${sizes[@]}"; do
  url="$base/$size"
  expected=$(curl -s "$url.sha256")
  for target in null file; do
    if [[ $target == null ]]; then
      ours_out=/dev/null curl_out=/dev/null before_out=/dev/null
    else
      ours_out=$work/ours curl_out=$work/curl before_out=$work/before
    fi
    ours=("$get" -o "$ours_out" "$url")
    theirs=(curl -s -o "$curl_out" "$url")
    specs=(marquelo-get:ours curl:theirs)
    if [[ -n "$before" ]]; then
      old=("$before" -o "$before_out" "$url")
      specs+=(before:old)
    fi
    compare_row "$size B chunks > $target" "$runs" "${specs[@]}"
    if [[ $target == file ]]; then
      check "$ours_out" "$expected" marquelo-get
      check "$curl_out" "$expected" curl
      [[ -n "$before" ]] && check "$before_out" "$expected" before
    fi
  done
done
