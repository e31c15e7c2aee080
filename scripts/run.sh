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
echo "vfspd: serving under Wine (prefix $WINEPREFIX); log in $top/run/VFSPD.LOG"
# A new prefix is made on the display the server will use: Wine ties its
# desktop to the display of the session's first program, so a prefix made
# without one would let the server create no window.
serve='[ -d "$WINEPREFIX/drive_c" ] || wineboot -i; exec wine "$1"'
if [ -n "${DISPLAY:-}" ]; then
  exec bash -c "$serve" _ "$top/build/win/vfspd.exe"
else
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$serve" _ "$top/build/win/vfspd.exe"
fi
