#!/usr/bin/env bash
# Benchmarks vfspd.exe under Wine against an echo server with the same
# receive path (the platform's limit), side by side, in a fresh prefix.
# Usage: scripts/bench.sh [runs]   (default 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
cmake --build "$top/build/win" --target echo
cmake --build "$top/build/native" --target fspbench
scratch=$(mktemp -d /tmp/vfspd-bench-XXXXXX)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineserver -p
  wineboot -i >/dev/null 2>&1
  "$1/build/native/fspbench" "$2"
' _ "$top" "${1:-5}"
