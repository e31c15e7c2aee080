#!/usr/bin/env bash
# The long variants of the robustness tests: the load test with 20,000
# requests per client over at least 60 seconds a phase, against vfspd.exe
# under Wine in a fresh prefix, and then every fuzz target for the given
# number of seconds each (default 600).
#   scripts/long-tests.sh [fuzz-seconds]
# VFSPD_LOAD_REQUESTS and VFSPD_LOAD_SECONDS override the load figures.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/wine-env.sh"
fuzz_seconds=${1:-600}
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

wine_prefix
export VFSPD_LOAD_REQUESTS=${VFSPD_LOAD_REQUESTS:-20000}
export VFSPD_LOAD_SECONDS=${VFSPD_LOAD_SECONDS:-60}
echo "== load: $VFSPD_LOAD_REQUESTS requests per client, at least ${VFSPD_LOAD_SECONDS}s a phase"
wine_session "$top/build/native/e2e_load"

"$top/scripts/fuzz.sh" "$fuzz_seconds"
