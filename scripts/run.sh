#!/usr/bin/env bash
# Installs what is missing, builds vfspd.exe and starts it under Wine.
# A first run stores the defaults: port 21, root C:\ (the prefix's drive_c),
# log VFSPD.LOG in the working directory run/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" --win-only
export WINEPREFIX=${WINEPREFIX:-$HOME/.vfspd-wine}
export WINEDEBUG=${WINEDEBUG:--all}
mkdir -p "$top/run"
cd "$top/run"
[ -d "$WINEPREFIX/drive_c" ] || wineboot -i
echo "vfspd: serving under Wine (prefix $WINEPREFIX); log in $top/run/VFSPD.LOG"
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$top/build/win/vfspd.exe"
else
  exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$top/build/win/vfspd.exe"
fi
