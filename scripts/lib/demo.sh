#!/usr/bin/env bash
# Shows a capture at work on the virtual desktop the program runs on: presses PrintScreen once,
# prints the path of the file the program wrote, and saves a picture of the desktop.
#   scripts/lib/demo.sh PID
set -uo pipefail
pid="${1:?usage: demo.sh PID}"

# The main window is up once a visible window of the process exists.
shown=""
for _ in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || { echo "demo: the program has ended" >&2; exit 1; }
    if [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null)" ]; then
        shown=1
        break
    fi
    sleep 0.2
done
[ -n "$shown" ] || { echo "demo: the main window did not appear" >&2; exit 1; }
# Let the key timer make its first round, from which on presses are observed.
sleep 1

# The capture folder at start: the program's own folder when writable, else the pictures folder.
folder="$(dirname "$(readlink -f "/proc/$pid/exe")")"
if [ ! -w "$folder" ]; then
    folder=""
    dirs_file="${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs"
    if [ -f "$dirs_file" ]; then
        folder="$(sed -n 's/^XDG_PICTURES_DIR="\(.*\)"$/\1/p' "$dirs_file" | sed "s|\$HOME|$HOME|")"
    fi
    [ -n "$folder" ] || folder="$HOME/Pictures"
fi

newest() {
    find "$folder" -maxdepth 1 -type f \( -name '*.bmp' -o -name '*.jpg' -o -name '*.png' \) ! -name '.*' \
        -newer "$marker" -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -n 1 | cut -d' ' -f2-
}

marker="$(mktemp "${TMPDIR:-/tmp}/lumora-demo.XXXXXX")"
trap 'rm -f "$marker"' EXIT
sleep 0.01
xdotool key Print
capture=""
for _ in $(seq 1 100); do
    capture="$(newest)"
    # Done once the file is there and no temporary file of a JPG capture remains.
    if [ -n "$capture" ] && ! ls "$folder"/.temp*.bmp >/dev/null 2>&1; then
        break
    fi
    capture=""
    sleep 0.1
done
if [ -n "$capture" ]; then
    echo "Captured by PrintScreen: $capture"
else
    echo "demo: no capture appeared in $folder" >&2
fi

desktop="${TMPDIR:-/tmp}/lumora-desktop-$(date +%Y%m%d-%H%M%S).png"
if import -window root "$desktop" 2>/dev/null; then
    echo "Desktop picture: $desktop"
fi
