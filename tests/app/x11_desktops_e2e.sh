#!/usr/bin/env bash
# `lumora --capture` on X11 desktops as people run them, each on an X server of its own: xfwm4
# with its compositor, mutter in X11 mode and kwin_x11, each with a window that draws its own
# title bar (gtk3-demo) and one the manager frames (xterm): every window capture equals the screen where
# the window is seen (AE 0), without the invisible shadow or resize borders around it. Two RandR
# monitors (the second one primary) and two Xinerama heads: the screen capture is exactly the
# primary one. With nothing focused, a window capture fails and writes nothing.
set -euo pipefail
program="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/lumora-x11-desktops.XXXXXX")"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "x11 desktops: $*" >&2
    if [ -n "${LUMORA_KEEP_WALK:-}" ]; then  # what the screen showed, for a person to look at
        import -window root "$work/failure.png" 2>/dev/null || true
        xwininfo -root -tree >"$work/windows.txt" 2>/dev/null || true
        cp -r "$work" "$LUMORA_KEEP_WALK"
    fi
    exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: true once COMMAND succeeds
    local until=$((SECONDS + $1))
    shift
    while ! "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}
background() {  # background LOG COMMAND...: runs COMMAND, killed at the end
    local log="$1"
    shift
    "$@" >"$work/$log" 2>&1 &
    pids+=($!)
}
# start_server NAME COMMAND...: an X server that reports its display on descriptor 3.
start_server() {
    local name="$1" num
    shift
    mkfifo "$work/$name.fd"
    "$@" -displayfd 3 -nolisten tcp 3>"$work/$name.fd" >"$work/$name.log" 2>&1 &
    pids+=($!)
    read -r num <"$work/$name.fd" || fail "$name did not start"
    export DISPLAY=":$num"
    wait_for 10 xdpyinfo || fail "$name does not answer"
}

# The program from a folder of its own (its capture folder), with settings and a bus of its own.
mkdir -p "$work/app" "$work/home" "$work/run"
chmod 700 "$work/run"
cp "$program" "$work/app/lumora"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
export XDG_SESSION_TYPE=x11 NO_AT_BRIDGE=1 GTK_A11Y=none
unset WAYLAND_DISPLAY
# Nothing that blinks or moves between a capture and the reference picture.
mkdir -p "$XDG_CONFIG_HOME/gtk-3.0"
printf '[Settings]\ngtk-cursor-blink=false\ngtk-enable-animations=false\n' \
    >"$XDG_CONFIG_HOME/gtk-3.0/settings.ini"
bus="$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$work/bus.pid")"
export DBUS_SESSION_BUS_ADDRESS="$bus"
pids+=("$(cat "$work/bus.pid")")

capture() {  # capture screen|window: the saved file's path
    "$work/app/lumora" --capture "$1" 2>"$work/capture.err" || fail "capture $1: $(cat "$work/capture.err")"
}
size_of() { identify -format "%wx%h" "$1"; }
# captures_as_screen screen|window WxH+X+Y: the capture equals that part of the screen, pixel
# for pixel. A window still redrawing itself (focus given on a loaded machine) gets two more
# tries; a capture of the wrong place never matches.
captures_as_screen() {
    local target="$1" area="$2" file ae try
    for try in 1 2 3; do
        file="$(capture "$target")"
        [ "$(size_of "$file")" = "${area%%+*}" ] ||
            fail "$target: $file is $(size_of "$file"), not ${area%%+*}"
        import -window root -crop "$area" +repage "$work/reference.png"
        ae="$(compare -metric AE "$file" "$work/reference.png" null: 2>&1 || true)"
        [ "$ae" = "0" ] && return 0
        sleep 1
    done
    fail "$target: $file differs from the screen at $area in $ae pixels"
}
active_window() { xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p'; }
cardinals() {  # cardinals WINDOW PROPERTY: "a b c d", empty when not set
    xprop -id "$1" "$2" 2>/dev/null | sed -n 's/.*= //p' | tr -d ','
}
client_geometry() {  # client_geometry WINDOW: "x y width height" on the root
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                             /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}'
}
# focus CLASS: activates the program's window that carries `property` and echoes its id.
focus() {
    local id="" w
    for _ in $(seq 1 100); do
        for w in $(xdotool search --onlyvisible --class "$1" 2>/dev/null); do
            [ -n "$(cardinals "$w" "$2")" ] && id="$w" && break
        done
        if [ -n "$id" ]; then
            xdotool windowactivate "$id" 2>/dev/null || true
            [ "$(printf '%d' "$(active_window)" 2>/dev/null)" = "$id" ] && break
        fi
        sleep 0.1
    done
    [ -n "$id" ] || fail "no $1 window with $2"
    echo "$id"
}

supports_gtk_frames() { xprop -root _NET_SUPPORTED | grep -q _GTK_FRAME_EXTENTS; }

# walk NAME WM...: both windows under that window manager.
walk() {
    local name="$1" demo term x y w h
    local -a e
    shift
    start_server "xvfb-$name" Xvfb -noreset -screen 0 1920x1080x24
    background "$name.log" "$@"
    wait_for 20 supports_gtk_frames || fail "$name did not start: $(tail -3 "$work/$name.log")"
    # Started once the manager and its compositor run: GTK draws its own shadow only then.
    sleep 1.5
    background "gtk3-demo-$name.log" gtk3-demo
    background "xterm-$name.log" xterm -geometry 70x20+1000+300
    sleep 1

    demo="$(focus gtk3-demo _GTK_FRAME_EXTENTS)"
    sleep 1  # the demo's first frames drawn
    read -r x y w h <<<"$(client_geometry "$demo")"
    read -r e[0] e[1] e[2] e[3] <<<"$(cardinals "$demo" _GTK_FRAME_EXTENTS)"
    [ "${e[0]}" -gt 0 ] || fail "$name: gtk3-demo has no shadow margin"
    captures_as_screen window "$((w - e[0] - e[1]))x$((h - e[2] - e[3]))+$((x + e[0]))+$((y + e[2]))"

    term="$(focus xterm _NET_FRAME_EXTENTS)"
    sleep 0.5
    read -r x y w h <<<"$(client_geometry "$term")"
    read -r e[0] e[1] e[2] e[3] <<<"$(cardinals "$term" _NET_FRAME_EXTENTS)"
    captures_as_screen window "$((w + e[0] + e[1]))x$((h + e[2] + e[3]))+$((x - e[0]))+$((y - e[2]))"
}

walk xfwm4 xfwm4 --compositor=on
# The frame window is larger than what is seen here: the difference is the point of this walk.
walk mutter mutter --x11 --replace --sm-disable
if command -v kwin_x11 >/dev/null; then
    walk kwin kwin_x11 --replace
else
    echo "x11_desktops_e2e: kwin_x11 is not installed; KWin's window captures not checked"
fi

# Two RandR monitors on one output, the right one primary; an xterm marks it. Nothing has the
# focus (no window manager): a window capture is refused and leaves no file.
start_server xvfb-monitors Xvfb -noreset -screen 0 3840x1080x24 +extension RANDR
xrandr --setmonitor left 1920/508x1080/286+0+0 none
xrandr --setmonitor '*right' 1920/508x1080/286+1920+0 none
background xterm-monitors.log xterm -geometry 40x10+2200+200
wait_for 10 xdotool search --onlyvisible --class xterm || fail "no xterm on the monitors"
sleep 0.5
captures_as_screen screen 1920x1080+1920+0
before="$(ls "$work/app" | wc -l)"
if "$work/app/lumora" --capture window >"$work/none.out" 2>"$work/none.err"; then
    fail "a window capture with nothing focused succeeded: $(cat "$work/none.out")"
fi
grep -q "no window has the focus" "$work/none.err" || fail "unexpected message: $(cat "$work/none.err")"
[ "$(ls "$work/app" | wc -l)" = "$before" ] || fail "a file was left with nothing focused"

# Two Xinerama heads (Xephyr on that server) and no RandR at all: the first head.
start_server xephyr Xephyr -noreset -screen 960x540 -screen 960x540 +xinerama -extension RANDR
background xterm-heads.log xterm -geometry 30x8+1100+100
wait_for 10 xdotool search --onlyvisible --class xterm || fail "no xterm on the heads"
xsetroot -solid '#336699'
sleep 0.5
captures_as_screen screen 960x540+0+0
echo "x11 desktops: all walks passed"
