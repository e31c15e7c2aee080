#!/usr/bin/env bash
# Runs every fuzz target of the core for the given number of seconds each
# (default 600), growing a corpus under build/fuzz-corpus/ from the seeds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
"$top/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVFSPD_WIN_DIR="$top/build/win" >/dev/null
# The targets as tests/fuzz/tests.cmake lists them: its tests labelled fuzz.
targets=$(cd "$top/build/native" && ctest -N -L '^fuzz$' | sed -n 's/^ *Test *#[0-9]*: *//p')
[ -n "$targets" ] || { echo "fuzz.sh: no fuzz targets configured (clang missing?)" >&2; exit 1; }
for t in $targets; do
  cmake --build "$top/build/native" --target "$t"
  corpus="$top/build/fuzz-corpus/$t"
  mkdir -p "$corpus"
  cp -n "$top/tests/fuzz/corpus/$t"/* "$corpus/" 2>/dev/null || true
  echo "== $t for ${seconds}s"
  log="$top/build/fuzz-corpus/$t.log"
  status=0
  "$top/build/native/$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$top/build/fuzz-corpus/$t-" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|invariant)' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "$t: finding, see $log"
    failed=1
  fi
done
exit "${failed:-0}"
