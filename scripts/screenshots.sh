#!/usr/bin/env bash
# Retakes the pictures in docs/: the main window after a few requests, the
# window of a server whose port another program holds, its Security menu, the three dialogs, and the first page of the setup program
# (vfspd-setup.exe beside vfspd.exe). vfspd.exe runs under Wine in a
# virtual desktop on a virtual display (Wine draws the window frames
# itself there, so no window manager is needed) and is worked from the
# keyboard with xdotool, as an operator would.
#   scripts/screenshots.sh [path/to/vfspd.exe]
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
    top=$(cd "$(dirname "$0")/.." && pwd)
    . "$top/scripts/wine-env.sh"
    exe=$(realpath "${1:-$top/build/win/vfspd.exe}")
    mkdir -p "$top/docs"
    wine_prefix
    VFSPD_SCREEN=800x600x24 wine_session "$0" --inside "$exe" "$top/docs" "$scratch"
    exit
fi

# On the virtual display.
exe=$2 out=$3 scratch=$4

port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The root and the log inside the prefix's drive C:, so the pictures
# name no path of the machine they were taken on.
mkdir -p "$WINEPREFIX/drive_c/fsp/pub"
server='HKLM\Software\Quorvane\VrelFSPd\Server'
location='HKLM\Software\Quorvane\VrelFSPd\Location'
wine reg add "$server" /v FSPPort /t REG_DWORD /d "$port" /f >/dev/null
for v in Logging UploadOnly; do wine reg add "$server" /v $v /t REG_DWORD /d 1 /f >/dev/null; done
for v in ReadWrite RevName PrivMode ThruOut; do wine reg add "$server" /v $v /t REG_DWORD /d 0 /f >/dev/null; done
wine reg add "$location" /v RootPath /d 'C:\fsp\pub' /f >/dev/null
wine reg add "$location" /v LogPath /d 'C:\fsp\VFSPD.LOG' /f >/dev/null

cd "$scratch"
wine explorer /desktop=vfspd,480x420 "$exe" &
server_pid=$!

# Sends FSP requests over loopback; succeeds when every one was answered.
requests() {
    python3 - "$port" "$@" <<'PY'
import socket, struct, sys
port, commands = int(sys.argv[1]), [int(c, 0) for c in sys.argv[2:]]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1.0)
s.connect(("127.0.0.1", port))
for seq, command in enumerate(commands, 1):
    packet = bytearray(struct.pack(">BBHHHI", command, 0, 0, seq, 0, 0))
    total = packet[0] + sum(packet[2:]) + len(packet)
    packet[1] = ((total * 257) >> 8) & 0xFF
    s.send(packet)
    s.recv(2048)
PY
}

shot() { import -window root "$1"; }
# Waits until the screen holds still and, when $1 is given, differs from
# that earlier picture; gives up after $2 pictures (default 100).
settle() {
    local before=${1:-} prev="$scratch/prev.png" now="$scratch/now.png"
    rm -f "$prev"
    for _ in $(seq "${2:-100}"); do
        shot "$now"
        if [ -f "$prev" ] && cmp -s "$now" "$prev" && { [ -z "$before" ] || ! cmp -s "$now" "$before"; }; then
            mv "$now" "$scratch/last.png"; return 0
        fi
        mv "$now" "$prev"
    done
    echo "screen did not settle" >&2; return 1
}
# Saves the last picture, cropped to the windows on the desktop (of size $2).
save() {
    convert "$scratch/last.png" -crop "${2:-480x420}+0+0" +repage -trim +repage "$out/$1"
    echo "docs/$1"
}
# Presses keys (or, with --type, types text) and waits for the screen to
# answer.
keys() {
    shot "$scratch/before.png"
    if [ "$1" = --type ]; then xdotool type --delay 50 "$2"; else xdotool key --delay 100 "$@"; fi
    settle "$scratch/before.png"
}

# The server is up once it answers.
for _ in $(seq 100); do requests 0x10 2>/dev/null && break; done
requests 0x10 0x47 0x10 0x10 0x4A
desktop=$(xdotool search --name 'vfspd - Wine desktop' | head -1)
xdotool windowfocus "$desktop"
settle
save main-window.png

keys alt+s;                          save security-menu.png
keys Escape Escape alt+s c;          save config-dialog.png
keys Escape
# The host table, with a few rules typed in (Cancel keeps none of them).
keys alt+s h
keys --type '127.0.0.5 D Go away'
keys Return
keys --type '10.0.0.0/8 N'
keys Return
keys --type '192.168.1.*  I';        save hosts-dialog.png
keys Escape
keys alt+t d;                        save dns-dialog.png
keys --type 127.0.0.1
keys Return;                         save dns-result.png
keys Return
keys alt+h a;                        save about-dialog.png
keys Return
keys alt+f x
wait "$server_pid" || true

# The window of a server that is not serving: another program holds its
# port. The box that says so is answered first.
python3 -c 'import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("0.0.0.0", '"$port"')); time.sleep(600)' &
holder=$!
wine explorer /desktop=vfspd,480x420 "$exe" &
server_pid=$!
# Its log says so just before the box shows.
for _ in $(seq 150); do grep -qa "Not serving" "$WINEPREFIX/drive_c/fsp/VFSPD.LOG" && break; sleep 0.2; done
settle
# The new desktop has the keyboard (the first one's window may linger in
# a search by name).
keys Return;                         save main-window-not-serving.png
keys alt+f x
wait "$server_pid" || true
kill "$holder"

shot "$scratch/before.png"
wine explorer /desktop=setup,640x480 "$(dirname "$exe")/vfspd-setup.exe" &
setup_pid=$!
# The empty desktop comes first and holds still while the setup program
# unpacks itself: wait on until there is more than one colour on it.
for _ in $(seq 20); do
    settle "$scratch/before.png" 1000
    [ "$(convert "$scratch/last.png" -crop 640x480+0+0 -format %k info:)" -gt 1 ] && break
    cp "$scratch/last.png" "$scratch/before.png"
done
save setup-welcome.png 640x480
xdotool windowfocus "$(xdotool search --name 'setup - Wine desktop' | head -1)"
keys Escape
wait "$setup_pid" || true
