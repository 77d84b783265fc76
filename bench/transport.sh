#!/usr/bin/env bash
# Builds and runs the transport benchmark: ReadStream and ReadLine against nginx on 127.0.0.1,
# beside curl fetching the same file from the same nginx. Arguments go to the program
# (--runs N, --mib M, --lines L). Release flags: the numbers should say what users get.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

"$repo_root/scripts/bootstrap"
configure_and_build -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$build_dir/bin/transport_bench" "$@"
