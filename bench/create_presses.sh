#!/usr/bin/env bash
# Presses Create in the real window against the local demo service and reports how long a
# press takes (click to code in the box, and to the code painted) and, every CHECKPOINT presses,
# the program's resident memory and open descriptors. create_presses is built in build-demo,
# where Marquelo's service host is the demo service, so each preview really plays its player.
# Runs on a private Xvfb when there is no display.
#
#   bench/create_presses.sh [PRESSES [CHECKPOINT [PAGE [cold]]]]
#
# PRESSES defaults to 20; CHECKPOINT to 0 (holdings after the first press only); PAGE is one of
# photostream, set (the default), group, redirect; "cold" presses first before the preview
# module has been preloaded. The numbers in the notes came from
#   bench/create_presses.sh 20          latency
#   bench/create_presses.sh 500 50      soak
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$repo_root/scripts/lib/demo.sh"

presses=${1:-20}
checkpoint=${2:-0}
page=${3:-set}
warmth=${4:-}

"$repo_root/scripts/bootstrap"
start_demo_service
build_for_demo_service create_presses
browser_engine_env
have_display || start_xvfb
[[ -n "${service[$page]:-}" ]] || { echo "create_presses.sh: no page called $page" >&2; exit 64; }
"$demo_build_dir/bin/create_presses" "${service[$page]}" "$presses" "$checkpoint" $warmth
