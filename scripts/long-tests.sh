#!/usr/bin/env bash
# The long variants of the robustness tests: the load test with 20,000
# requests per client over at least 60 seconds a phase, against vfspd.exe
# under Wine in a fresh prefix, and then every fuzz target for the given
# number of seconds each (default 600).
#   scripts/long-tests.sh [fuzz-seconds]
# VFSPD_LOAD_REQUESTS and VFSPD_LOAD_SECONDS override the load figures.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds=${1:-600}
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

scratch=$(mktemp -d /tmp/vfspd-long-XXXXXX)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
export VFSPD_LOAD_REQUESTS=${VFSPD_LOAD_REQUESTS:-20000}
export VFSPD_LOAD_SECONDS=${VFSPD_LOAD_SECONDS:-60}
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT

echo "== load: $VFSPD_LOAD_REQUESTS requests per client, at least ${VFSPD_LOAD_SECONDS}s a phase"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  wineserver -p          # one server for the run, on this display
  wineboot -i >/dev/null 2>&1
  status=0
  "$1/build/native/e2e_load" || status=$?
  wineserver -k || true  # not left bound to this display
  exit $status
' _ "$top"

"$top/scripts/fuzz.sh" "$fuzz_seconds"
