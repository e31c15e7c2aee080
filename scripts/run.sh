#!/usr/bin/env bash
# Installs what is missing, builds vfspd.exe and starts it under Wine, on
# the display there is, or a virtual one. A first run stores the defaults:
# port 21, root C:\ (the prefix's drive_c), log VFSPD.LOG in the working
# directory run/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/wine-env.sh"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" --win-only
wine_prefix "${WINEPREFIX:-$HOME/.vfspd-wine}"
mkdir -p "$top/run"
cd "$top/run"
echo "vfspd: serving under Wine (prefix $WINEPREFIX); log in $top/run/VFSPD.LOG"
VFSPD_DISPLAY=own wine_session wine "$top/build/win/vfspd.exe"
