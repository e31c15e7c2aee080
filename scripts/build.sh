#!/usr/bin/env bash
# Configures and builds both trees: build/win (vfspd.exe, Windows tests)
# and build/native (core unit tests, end-to-end tests).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# VFSPD_WERROR=ON|OFF sets warnings-as-errors; unset keeps what the tree has,
# so run.sh after test.sh does not rebuild everything.
werror=()
[ -n "${VFSPD_WERROR:-}" ] && werror=(-DVFSPD_WERROR="$VFSPD_WERROR")
cmake -S "$top" -B "$top/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" "${werror[@]}"
cmake --build "$top/build/win" -j"$(nproc)"
if [ "${1:-}" != "--win-only" ]; then
  # clang, so that the libFuzzer targets are built too.
  CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVFSPD_WIN_DIR="$top/build/win" "${werror[@]}"
  cmake --build "$top/build/native" -j"$(nproc)"
fi
