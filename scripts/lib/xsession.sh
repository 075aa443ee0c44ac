# Sourced by scripts: starts a virtual X desktop (Xvfb on a free display, openbox without key
# bindings, trayer as tray host, a private session bus) and exports DISPLAY. Call
# xsession_start [WxHxD], then xsession_stop (also run on exit).
XSESSION_PIDS=()

xsession_start() {
    local screen="${1:-1920x1080x24}"
    local here
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
    XSESSION_DIR="$(mktemp -d "${TMPDIR:-/tmp}/lumora-x.XXXXXX")"
    chmod 700 "$XSESSION_DIR"
    mkfifo "$XSESSION_DIR/displayfd"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp +extension RANDR \
        3>"$XSESSION_DIR/displayfd" >"$XSESSION_DIR/xvfb.log" 2>&1 &
    XSESSION_PIDS+=($!)
    local num
    read -r num <"$XSESSION_DIR/displayfd"
    export DISPLAY=":$num"
    # This desktop is X11, whatever session the caller sits in: the program must not take it
    # for a Wayland one.
    unset WAYLAND_DISPLAY
    export XDG_SESSION_TYPE=x11
    export XDG_RUNTIME_DIR="$XSESSION_DIR/runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    trap xsession_stop EXIT
    # A desktop session has a session bus: the program offers its capture requests there.
    if command -v dbus-daemon >/dev/null 2>&1; then
        local bus
        # No service is started on demand: with KDE's and GNOME's packages installed for their
        # rigs, a call could start one of their daemons here (kded5 brings a StatusNotifier
        # watcher without a host, and Qt then sees no tray beside trayer).
        cat >"$XSESSION_DIR/bus.conf" <<'BUS'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
BUS
        bus="$(dbus-daemon --config-file="$XSESSION_DIR/bus.conf" --fork --print-address=1 \
            --print-pid=4 4>"$XSESSION_DIR/bus.pid")" && export DBUS_SESSION_BUS_ADDRESS="$bus"
    fi
    openbox --config-file "$here/openbox-rc.xml" >"$XSESSION_DIR/openbox.log" 2>&1 &
    XSESSION_PIDS+=($!)
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        --transparent false --expand true >"$XSESSION_DIR/trayer.log" 2>&1 &
    XSESSION_PIDS+=($!)
    # Wait until the window manager owns the screen and the tray host shows its panel: trayer
    # takes the tray selection with the panel's own windows, so tests that look for a docked
    # icon do not race a host that is still starting on a loaded machine.
    for _ in $(seq 1 200); do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
            xwininfo -root -tree 2>/dev/null | grep -q '"panel": ("panel" "trayer")'; then
            break
        fi
        sleep 0.05
    done
    sleep 0.2
    for _ in $(seq 1 100); do
        xdpyinfo 2>/dev/null | grep -q . && break
        sleep 0.05
    done
}

xsession_stop() {
    local pid
    for pid in "${XSESSION_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${XSESSION_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    XSESSION_PIDS=()
    if [ -n "${XSESSION_DIR:-}" ] && [ -s "$XSESSION_DIR/bus.pid" ]; then
        kill "$(cat "$XSESSION_DIR/bus.pid")" 2>/dev/null || true
    fi
    [ -n "${XSESSION_DIR:-}" ] && rm -rf "$XSESSION_DIR"
    XSESSION_DIR=""
}
