#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the
# native core tests, the Windows tests under Wine, and the end-to-end tests
# against vfspd.exe under Wine, all on one virtual display and in one fresh
# Wine prefix.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
VFSPD_WERROR=ON "$top/scripts/build.sh"

scratch=$(mktemp -d /tmp/vfspd-test-XXXXXX)
export WINEPREFIX="$scratch/prefix"
mkdir -p "$WINEPREFIX"
export WINEDEBUG=-all
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  wineserver -p          # one server for the whole run, on this display
  wineboot -i >/dev/null 2>&1
  cd "$1/build/win" && ctest --output-on-failure
  cd "$1/build/native" && ctest --output-on-failure
' _ "$top"
