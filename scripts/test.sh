#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the
# native core tests, the Windows tests under Wine, and the end-to-end tests
# against vfspd.exe under Wine, all on one virtual display and in one fresh
# Wine prefix.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/wine-env.sh"
"$top/scripts/install-deps.sh"
VFSPD_WERROR=ON "$top/scripts/build.sh"

wine_prefix
wine_session bash -c '
  set -euo pipefail
  cd "$1/build/win" && ctest --output-on-failure
  cd "$1/build/native" && ctest --output-on-failure
' _ "$top"
