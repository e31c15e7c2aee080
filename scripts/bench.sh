#!/usr/bin/env bash
# Benchmarks vfspd.exe under Wine against the bare echo side by side
# (bench/echo.cpp), with one client and with eight at once, then times the
# platform calls a request makes, one by one (bench/calls.cpp). Everything
# runs in a fresh Wine prefix on its own virtual display; the output is
# also kept in build/bench-DATE.txt.
# Usage: scripts/bench.sh [runs]   (default 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/wine-env.sh"
runs=${1:-5}
case $runs in '' | *[!0-9]*) echo "usage: $0 [runs]" >&2; exit 2 ;; esac

"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
cmake --build "$top/build/native" --target fspbench # and the echo and the probe

wine_prefix
mkdir -p "$scratch/calls/list"
# The directory the probe enumerates whole, as large as the flood's.
(cd "$scratch/calls/list" && seq 1 20000 | sed 's/^/entry-/; s/$/.txt/' | xargs touch)

out="$top/build/bench-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "vfspd benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo '?')"
  echo "machine: $(nproc) CPUs ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)), load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "wine: $(wine --version 2>/dev/null || echo '?')"
  echo
  wine_session bash -c '
    set -euo pipefail
    "$1/build/native/fspbench" "$2"
    echo
    echo "Platform calls, one at a time (bench/calls.cpp), microseconds per call,"
    echo "median and mean of 2000 rounds; each sequence is what one request does."
    echo
    # Through a file: a wine process started on the way must not hold a pipe.
    wine "$1/build/win/calls.exe" "$(winepath -w "$3")" 2000 >"$3/out.txt" </dev/null
    tr -d "\r" <"$3/out.txt"
  ' _ "$top" "$runs" "$scratch/calls"
} 2>&1 | tee "$out"
echo "(kept in $out)"
