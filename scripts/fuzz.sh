#!/usr/bin/env bash
# Runs every fuzz target of the core for the given number of seconds each
# (default 600), growing a corpus under build/fuzz-corpus/ from the seeds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
"$top/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVFSPD_WIN_DIR="$top/build/win" >/dev/null
for t in fuzz_decode fuzz_reply fuzz_paths fuzz_logline fuzz_listing; do
  cmake --build "$top/build/native" --target "$t"
  corpus="$top/build/fuzz-corpus/$t"
  mkdir -p "$corpus"
  cp -n "$top/tests/fuzz/corpus/$t"/* "$corpus/" 2>/dev/null || true
  echo "== $t for ${seconds}s"
  "$top/build/native/$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::|==[0-9]+==ERROR|SUMMARY|invariant)' || true
done
