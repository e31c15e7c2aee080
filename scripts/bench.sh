#!/usr/bin/env bash
# Benchmarks vfspd.exe under Wine against two echo servers side by side
# (bench/echo.cpp: the bare echo, and the floor, which adds vfspd's window
# work per datagram), then times the platform calls a request makes, one by
# one (bench/calls.cpp). Everything runs in a fresh Wine prefix on its own
# virtual display; the output is also kept in build/bench-DATE.txt.
# Usage: scripts/bench.sh [runs]   (default 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
case $runs in '' | *[!0-9]*) echo "usage: $0 [runs]" >&2; exit 2 ;; esac

"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
cmake --build "$top/build/win" --target echo calls
cmake --build "$top/build/native" --target fspbench

scratch=$(mktemp -d /tmp/vfspd-bench-XXXXXX)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX" "$scratch/calls/list"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT
# The directory the probe enumerates whole, as large as the flood's.
(cd "$scratch/calls/list" && seq 1 20000 | sed 's/^/entry-/; s/$/.txt/' | xargs touch)

out="$top/build/bench-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "vfspd benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo '?')"
  echo "machine: $(nproc) CPUs ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)), load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "wine: $(wine --version 2>/dev/null || echo '?')"
  echo
  # The wine server outlives the block: kept off the pipe into tee, which
  # would otherwise wait for it forever.
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -euo pipefail
    wineserver -p >/dev/null 2>&1
    wineboot -i >/dev/null 2>&1
    "$1/build/native/fspbench" "$2"
    echo
    echo "Platform calls, one at a time (bench/calls.cpp), microseconds per call,"
    echo "median and mean of 2000 rounds; each sequence is what one request does."
    echo
    # Through a file: a wine process started on the way must not hold a pipe.
    wine "$1/build/win/calls.exe" "$(winepath -w "$3")" 2000 >"$3/out.txt" </dev/null
    tr -d "\r" <"$3/out.txt"
    wineserver -k || true
  ' _ "$top" "$runs" "$scratch/calls"
} 2>&1 | tee "$out"
echo "(kept in $out)"
