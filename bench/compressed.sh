#!/usr/bin/env bash
# Coded bodies: marquelo-get beside curl --compressed, both fetching 256 MiB of page-like text
# from the same nginx on 127.0.0.1 in each content coding (pre-compressed files sent with their
# Content-Encoding), to /dev/null. Per coding: median wall and CPU time of RUNS interleaved
# runs (default 3) and their ratios, then the peak resident memory of both (/usr/bin/time -v).
# With a second marquelo-get (BEFORE, say an older build) the plain 256 MiB body is timed for
# it too, beside the same curl, so that the ratios before and after a change come from one run.
#
#   bench/compressed.sh [RUNS] [BEFORE]
#
# Builds marquelo-get and the br coder into the build directory first.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/lib.sh"

runs=${1:-3}
before=${2:-}
text_size=$((256 * 1024 * 1024))

"$repo_root/scripts/bootstrap"
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target marquelo-get brotli_encode >/dev/null
get="$build_dir/bin/marquelo-get"

make_work_dir
mkdir -p "$work/www/gzip" "$work/www/br" "$work/www/zstd"
# Lines of a photo list, each different, so that the codings have work to do.
python3 - "$work/page.html" "$text_size" <<'PY'
import sys
size = int(sys.argv[2])
with open(sys.argv[1], "w") as out:
    written, i = 0, 0
    while written < size:
        line = '<li class="photo" data-id="%d"><a href="/photos/corrie/%d/">Harbour %d</a></li>\n' % (
            i * 7919 % 1000003, i, i % 977)
        out.write(line[: size - written])
        written += len(line)
        i += 1
PY
gzip -6 -c "$work/page.html" >"$work/www/gzip/page.html"
"$build_dir/bin/brotli_encode" 5 <"$work/page.html" >"$work/www/br/page.html"
zstd -q -3 -c "$work/page.html" >"$work/www/zstd/page.html"
head -c "$text_size" /dev/zero >"$work/www/plain.bin"
head -c 2048 /dev/zero >"$work/www/small.txt"
chmod -R a+rX "$work"

port=$(free_port)
coded_port=$(free_port)
start_nginx "$work" "$port" "server {
    listen 127.0.0.1:$coded_port; root $work/www; default_type text/html;
    location /gzip/ { add_header Content-Encoding gzip; }
    location /br/ { add_header Content-Encoding br; }
    location /zstd/ { add_header Content-Encoding zstd; }
  }"

echo "256 MiB of text: gzip $(stat -c %s "$work/www/gzip/page.html") bytes," \
  "br $(stat -c %s "$work/www/br/page.html"), zstd $(stat -c %s "$work/www/zstd/page.html")"

peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

for coding in gzip br zstd; do
  url="http://127.0.0.1:$coded_port/$coding/page.html"
  ours=("$get" -o /dev/null "$url")
  theirs=(curl -s --compressed -o /dev/null "$url")
  compare_row "$coding" "$runs" marquelo-get:ours curl:theirs
  printf '%-22s  marquelo-get %d KiB   curl %d KiB\n' "  peak memory" \
    "$(peak_kib "${ours[@]}")" "$(peak_kib "${theirs[@]}")"
done

plain_url="http://127.0.0.1:$port/plain.bin"
ours=("$get" -o /dev/null "$plain_url")
theirs=(curl -s -o /dev/null "$plain_url")
compare_row "plain" "$runs" marquelo-get:ours curl:theirs
if [[ -n "$before" ]]; then
  older=("$before" -o /dev/null "$plain_url")
  compare_row "plain, before" "$runs" marquelo-get:older curl:theirs
fi
