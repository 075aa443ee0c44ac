#!/bin/bash
# Runs one command inside a throwaway headless GNOME 43 Wayland desktop:
# gnome-shell --headless with one virtual monitor (llvmpipe), XWayland, gsd-media-keys (custom
# keyboard shortcuts), PipeWire, xdg-desktop-portal with GNOME's backends only (gnome,
# gnome-shell for Access, gtk), a private session bus and an empty private system bus.
#
# Usage (as root):  scripts/lib/gnome-session.sh [--] COMMAND [ARGS...]
#   The command runs as $GNS_USER (default nobody), in a PID namespace of its own, with
#   WAYLAND_DISPLAY, DISPLAY and XAUTHORITY (XWayland), DBUS_SESSION_BUS_ADDRESS,
#   DBUS_SYSTEM_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_CONFIG_HOME/DATA_HOME/CACHE_HOME/STATE_HOME,
#   XDG_CURRENT_DESKTOP=GNOME, XDG_SESSION_TYPE=wayland and HOME set (~/Pictures is the
#   pictures folder of user-dirs.dirs); GNS_DIR is the session directory (logs in $GNS_DIR/log,
#   start-up times in $GNS_DIR/log/startup.log). Helpers for the command (python3 with gi):
#     $GNS_SHOT [--interactive] [--timeout S]   one portal Screenshot request; prints
#                                                "<response> <uri> <ms>" (exit 0 if response 0)
#     $GNS_SHELL_SHOT FILE.png                   the whole screen through the shell's own
#                                                org.gnome.Shell.Screenshot (no cursor, no flash)
#     $GNS_INPUT ACTION...                       keys ("Print", "Control_L+Print"), clicks
#                                                ("click:X,Y") and pauses ("sleep:S") through
#                                                mutter's RemoteDesktop. Keys reach the shell,
#                                                its dialogs and its key bindings (custom
#                                                shortcuts included), not XWayland windows; for
#                                                those use xdotool (XTEST inside XWayland).
#                                                The top bar shows a remote-access indicator.
#     $GNS_RIG windows|notifications|dialogs|hide-overview
#                                                what the shell shows, as JSON, through the small
#                                                extension this script installs
#   Exit status: the command's, or 90+ if the desktop could not be brought up.
# Knobs: GNS_USER (nobody), GNS_SIZE (1920x1080), GNS_START_TIMEOUT (60 s),
#        GNS_SCREENSHOT_PERMISSION: yes (default) presets the portal permission store entry
#          that lets host programs take screenshots without a dialog, and the start-up then
#          ends with one real portal screenshot; "no" presets a refusal; empty leaves the
#          store empty, as in a new account (the first request then shows GNOME's
#          "Allow Applications to Take Screenshots?" dialog),
#        GNS_MEDIA_KEYS (1: run gsd-media-keys), GNS_EXTENSIONS (more shell extensions to
#          enable, by uuid, e.g. ubuntu-appindicators@ubuntu.com for a tray),
#        GNS_PASS_ENV (names of variables handed to the command; it must be able to read what
#          they name), GNS_KEEP=1 keeps the session directory (it is always kept on failure),
#        GNS_DEBUG=1 adds dbus-monitor.
# Needs (Debian 12): gnome-shell (43.9, brings mutter 43.8 and gnome-settings-daemon),
#   xdg-desktop-portal-gnome (43.1, brings xdg-desktop-portal 1.16 and -gtk), gjs (GNOME's
#   notification service runs on it), xwayland, x11-utils, python3-gi; pipewire and
#   wireplumber are started when present.
set -u

if [ "${1:-}" != "--inner" ]; then
  # ---------------------------------------------------------------- outer (root)
  [ "${1:-}" = "--" ] && shift
  [ $# -ge 1 ] || { echo "usage: $0 [--] command [args...]" >&2; exit 2; }
  [ "$(id -u)" = 0 ] || { echo "gnome-session: must run as root" >&2; exit 2; }
  for p in gnome-shell /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome \
           Xwayland dbus-daemon xdpyinfo python3; do
    command -v "$p" > /dev/null || { echo "gnome-session: $p is not installed" >&2; exit 94; }
  done
  user=${GNS_USER:-nobody}
  uid=$(id -u "$user") && gid=$(id -g "$user") || exit 2
  self=$(readlink -f "${BASH_SOURCE[0]}")
  dir=$(mktemp -d /tmp/gns.XXXXXX) || exit 2
  export GNS_UID=$uid GNS_GID=$gid GNS_USER=$user GNS_DIR=$dir TERM=${TERM:-dumb} \
    GNS_SIZE=${GNS_SIZE:-1920x1080} GNS_START_TIMEOUT=${GNS_START_TIMEOUT:-60} \
    GNS_DEBUG=${GNS_DEBUG:-} GNS_MEDIA_KEYS=${GNS_MEDIA_KEYS:-1} GNS_EXTENSIONS=${GNS_EXTENSIONS:-} \
    GNS_SCREENSHOT_PERMISSION=${GNS_SCREENSHOT_PERMISSION-yes}
  chmod 755 "$dir"; touch "$dir/started"
  mkdir -m 700 "$dir/run" && mkdir -m 755 "$dir/home" "$dir/log"
  chown "$uid:$gid" "$dir" "$dir/run" "$dir/home" "$dir/log"
  # The caller's variables named in GNS_PASS_ENV, NUL-separated (values may hold anything).
  : > "$dir/passed.env"
  for name in ${GNS_PASS_ENV:-}; do
    [ -n "${!name+x}" ] && printf '%s=%s\0' "$name" "${!name}" >> "$dir/passed.env"
  done
  chmod 644 "$dir/passed.env"
  # The inner part runs as that user from a copy in the session folder: a clone of the project
  # may sit in a folder only its owner can enter.
  cp "$self" "$dir/gnome-session.sh" && chmod 755 "$dir/gnome-session.sh" || exit 2
  self=$dir/gnome-session.sh
  # New PID namespace whose PID 1 is a root bash (it reaps orphans); when it dies the
  # kernel kills everything else in the namespace and nothing outside it. It stays root:
  # --kill-child's parent-death signal does not survive a change of user.
  exec 8<&0
  # Its mount namespace has a private /tmp/.X11-unix: other X servers on this machine may
  # remove or recreate the shared one, and mutter refuses to start XWayland unless that
  # folder is mode 1777 at that moment. (Lock files /tmp/.X<n>-lock stay shared, so display
  # numbers never collide.)
  [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
  unshare --pid --fork --kill-child --mount-proc -- bash -c '
    mount -t tmpfs -o mode=1777,size=1m gns-x11 /tmp/.X11-unix || exit 95
    setpriv --reuid="$GNS_UID" --regid="$GNS_GID" --clear-groups -- \
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      LANG=C.UTF-8 HOME="$GNS_DIR/home" USER="$GNS_USER" LOGNAME="$GNS_USER" \
      XDG_RUNTIME_DIR="$GNS_DIR/run" GNS_DIR="$GNS_DIR" GNS_SIZE="$GNS_SIZE" \
      GNS_START_TIMEOUT="$GNS_START_TIMEOUT" GNS_DEBUG="$GNS_DEBUG" TERM="$TERM" \
      GNS_MEDIA_KEYS="$GNS_MEDIA_KEYS" GNS_SCREENSHOT_PERMISSION="$GNS_SCREENSHOT_PERMISSION" \
      GNS_EXTENSIONS="$GNS_EXTENSIONS" \
    bash "$0" --inner "$@"; exit $?' "$self" "$@" <&8 &
  upid=$!
  # unshare blocks SIGTERM while its child runs; on abort kill it outright and the kernel
  # takes the whole namespace down with it.
  trap 'kill -KILL $upid 2>/dev/null' INT TERM HUP
  wait $upid; rc=$?
  while kill -0 $upid 2>/dev/null; do wait $upid; rc=$?; done
  # mutter holds two X displays (the public one and one for its own services) and leaves
  # their lock files /tmp/.X<n>-lock behind when it is killed: remove exactly those files
  # (same inode as noted at start-up; another session may own that number by now).
  if [ -s "$dir/x-locks" ]; then
    while read -r f ino; do
      [ "$(stat -c %i "$f" 2>/dev/null)" = "$ino" ] && [ "$(stat -c %u "$f")" = "$uid" ] && rm -f "$f"
    done < "$dir/x-locks"
  fi
  if [ "$rc" -ne 0 ] || [ -n "${GNS_KEEP:-}" ]; then
    echo "gnome-session: rc=$rc, session kept in $dir" >&2
  else
    rm -rf "$dir"
  fi
  exit "$rc"
fi

# ------------------------------------------ inner (unprivileged user, new PID namespace)
shift
log=$GNS_DIR/log
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share \
       XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" \
         "$HOME/Pictures"
# The pictures folder as xdg-user-dirs names it in a new account.
echo 'XDG_PICTURES_DIR="$HOME/Pictures"' > "$XDG_CONFIG_HOME/user-dirs.dirs"
# What a GNOME login sets; mesa renders with llvmpipe (there is no GPU).
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome XDG_SESSION_TYPE=wayland \
       XDG_SESSION_CLASS=user DESKTOP_SESSION=gnome LIBGL_ALWAYS_SOFTWARE=1 \
       GSETTINGS_BACKEND=dconf NO_AT_BRIDGE=1
# Only GNOME's own portal backends, as on a GNOME machine: xdg-desktop-portal 1.16 falls back
# to any installed backend for an interface GNOME's lack (another desktop's backend installed
# on this machine would then offer e.g. GlobalShortcuts, and take Settings).
mkdir -p "$GNS_DIR/portals"
for f in gnome gnome-shell gtk; do
  [ -e "/usr/share/xdg-desktop-portal/portals/$f.portal" ] &&
    ln -s "/usr/share/xdg-desktop-portal/portals/$f.portal" "$GNS_DIR/portals/"
done
# xdg-desktop-portal 1.18 and later choose backends by this file rather than by the folder.
printf '[preferred]\ndefault=gnome;gtk;\n' > "$GNS_DIR/portals/gnome-portals.conf"
export XDG_DESKTOP_PORTAL_DIR=$GNS_DIR/portals
pids=()
cleanup() {  # stop what we started, newest first; the PID namespace catches the rest
  local i p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}; kill -TERM "$p" 2>/dev/null || continue
    for _ in $(seq 40); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null; echo "pid $p exit $?" >> "$log/teardown.log"
  done
}
trap cleanup EXIT
fail() { echo "gnome-session: $*" >&2; tail -n 20 "$log"/*.log >&2; exit 93; }
deadline=$((SECONDS + GNS_START_TIMEOUT))
t0=$(date +%s%N)
mark() { echo "$(( ($(date +%s%N) - t0) / 1000000 )) ms  $*" >> "$log/startup.log"; }
# waitfor CONDITION WHAT [PID]: polls CONDITION; fails on the deadline or when PID has ended.
waitfor() {
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || fail "timeout: $2"
    [ -z "${3:-}" ] || kill -0 "$3" 2>/dev/null || fail "$2 (it ended)"
    sleep 0.05
  done
}

# Private session bus; services it activates (dconf, portals, permission store) log to dbus.log.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
  > "$log/dbus.log" 2>&1 & pids+=($!)
waitfor '[ -S "$XDG_RUNTIME_DIR/bus" ]' "dbus-daemon did not start"
[ -n "$GNS_DEBUG" ] && { dbus-monitor --session > "$log/dbus-monitor.log" 2>&1 & pids+=($!); }
# And a private, empty system bus: gnome-shell 43 finds systemd's seat folder on this machine,
# takes logind for present and ends at start-up when it cannot reach a system bus at all.
# On this one every service (logind, accounts, upower, ...) is simply absent.
cat > "$GNS_DIR/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
CONF
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system_bus
dbus-daemon --config-file="$GNS_DIR/system-bus.conf" --nofork --nopidfile \
  > "$log/system-bus.log" 2>&1 & pids+=($!)
waitfor '[ -S "$XDG_RUNTIME_DIR/system_bus" ]' "the system bus did not start"
# Everything activated on the bus from here on gets the session's environment; the display
# variables follow once XWayland is up.
dbus-update-activation-environment XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_SESSION_TYPE \
  XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME PATH \
  DBUS_SYSTEM_BUS_ADDRESS XDG_DESKTOP_PORTAL_DIR LIBGL_ALWAYS_SOFTWARE GSETTINGS_BACKEND \
  NO_AT_BRIDGE || fail "dbus-update-activation-environment"

# The rig's extension: leaves the overview that GNOME opens at login, writes the shell's
# display variables to $GNS_DIR/shell.env once start-up is complete, and answers what the
# shell shows (windows, notifications, modal dialogs) on the bus.
ext=$XDG_DATA_HOME/gnome-shell/extensions/session-rig@localhost
mkdir -p "$ext"
# GNOME 45 and later load only ES modules; 43 and 44 only the older kind. Same body in both.
shell_major=$(gnome-shell --version 2>/dev/null | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
shell_major=${shell_major:-43}
cat > "$ext/metadata.json" <<EOF
{ "uuid": "session-rig@localhost", "name": "Session rig",
  "description": "Test rig: no overview at start, the shell's state on the bus",
  "shell-version": ["$shell_major"] }
EOF
if [ "$shell_major" -ge 45 ]; then
  cat > "$ext/extension.js" <<'EOF'
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
EOF
else
  cat > "$ext/extension.js" <<'EOF'
const { Gio, GLib, St } = imports.gi;
const Main = imports.ui.main;
EOF
fi
cat >> "$ext/extension.js" <<'EOF'

const IFACE = `<node><interface name="org.gnome.Shell.Extensions.SessionRig">
  <method name="Windows"><arg type="s" direction="out"/></method>
  <method name="Notifications"><arg type="s" direction="out"/></method>
  <method name="Dialogs"><arg type="s" direction="out"/></method>
  <method name="HideOverview"/>
</interface></node>`;

function texts(actor, out) {
    if (actor instanceof St.Label && actor.visible && actor.text)
        out.push(actor.text);
    for (const child of actor.get_children())
        texts(child, out);
    return out;
}

class Rig {
    constructor() { this._notes = []; }
    Windows() {
        const focus = global.display.focus_window;
        return JSON.stringify(global.get_window_actors().map(a => a.meta_window).map(w => {
            const r = w.get_frame_rect();
            return { title: w.get_title(), wm_class: w.get_wm_class(), pid: w.get_pid(),
                     x11: w.get_client_type() === 1, focused: w === focus,
                     minimized: w.minimized, frame: [r.x, r.y, r.width, r.height] };
        }));
    }
    Notifications() { return JSON.stringify(this._notes); }
    Dialogs() {
        return JSON.stringify(Main.layoutManager.modalDialogGroup.get_children()
            .filter(d => d.visible).map(d => texts(d, [])));
    }
    HideOverview() { Main.overview.hide(); }
    _watch(source) {
        source.connect('notification-added', (s, n) => this._notes.push({
            source: s.title, title: n.title, body: n.body ?? n.bannerBodyText,
            time: GLib.get_real_time() / 1000 }));
    }
}

let rig, impl, ids = [];
function enableRig() {
    rig = new Rig();
    impl = Gio.DBusExportedObject.wrapJSObject(IFACE, rig);
    impl.export(Gio.DBus.session, '/org/gnome/Shell/Extensions/SessionRig');
    Main.messageTray.getSources().forEach(s => rig._watch(s));
    ids.push(Main.messageTray.connect('source-added', (t, s) => rig._watch(s)));
    const ready = () => {
        Main.overview.hide();
        const env = ['DISPLAY', 'WAYLAND_DISPLAY', 'XAUTHORITY']
            .map(k => `${k}=${GLib.getenv(k) || ''}\n`).join('');
        GLib.file_set_contents(GLib.getenv('GNS_DIR') + '/shell.env', env);
    };
    if (Main.layoutManager._startingUp)
        ids.push(Main.layoutManager.connect('startup-complete', ready));
    else
        ready();
}
function disableRig() {
    if (impl) impl.unexport();
    impl = null; rig = null;
}
EOF
if [ "$shell_major" -ge 45 ]; then
  cat >> "$ext/extension.js" <<'EOF'
export default class SessionRig extends Extension {
    enable() { enableRig(); }
    disable() { disableRig(); }
}
EOF
else
  cat >> "$ext/extension.js" <<'EOF'
function init() {}
function enable() { enableRig(); }
function disable() { disableRig(); }
EOF
fi

# Settings a test session wants: the extension on, no blanking or lock, no animations.
# (gsettings starts dconf-service on the bus; dconf keeps them in $XDG_CONFIG_HOME/dconf.)
exts="'session-rig@localhost'"
for e in $GNS_EXTENSIONS; do exts="$exts, '$e'"; done
gsettings set org.gnome.shell enabled-extensions "[$exts]" &&
gsettings set org.gnome.shell disable-user-extensions false &&
gsettings set org.gnome.desktop.session idle-delay 0 &&
gsettings set org.gnome.desktop.screensaver lock-enabled false &&
gsettings set org.gnome.desktop.interface enable-animations false ||
  fail "gsettings (dconf) failed"
mark "session bus and settings ready"

GNS_DIR=$GNS_DIR gnome-shell --headless --wayland --virtual-monitor "$GNS_SIZE" \
  > "$log/gnome-shell.log" 2>&1 & pids+=($!)
waitfor '[ -s "$GNS_DIR/shell.env" ]' "gnome-shell did not complete its start-up" "${pids[-1]}"
set -a; . "$GNS_DIR/shell.env"; set +a
[ -n "$DISPLAY" ] || fail "gnome-shell started no XWayland"
echo "$DISPLAY" > "$GNS_DIR/display"
for n in $(sed -n 's/.*Using public X11 display :\([0-9]*\), (using :\([0-9]*\) for managed.*/\1 \2/p' \
             "$log/gnome-shell.log"); do
  [ -e "/tmp/.X$n-lock" ] && echo "/tmp/.X$n-lock $(stat -c %i "/tmp/.X$n-lock")"
done > "$GNS_DIR/x-locks"
waitfor 'xdpyinfo > /dev/null 2>&1' "XWayland on $DISPLAY did not answer"
mark "gnome-shell + XWayland $DISPLAY ($WAYLAND_DISPLAY) ready"

dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY ||
  fail "dbus-update-activation-environment"

if command -v pipewire > /dev/null; then
  pipewire > "$log/pipewire.log" 2>&1 & pids+=($!)
  waitfor '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' "pipewire did not start"
  command -v wireplumber > /dev/null && { wireplumber > "$log/wireplumber.log" 2>&1 & pids+=($!); }
  mark "pipewire ready"
fi
if [ "$GNS_MEDIA_KEYS" = 1 ]; then
  # What handles the custom shortcuts of Settings → Keyboard (it asks the shell to grab them).
  /usr/libexec/gsd-media-keys > "$log/gsd-media-keys.log" 2>&1 & pids+=($!)
  gdbus wait --session --timeout "$GNS_START_TIMEOUT" org.gnome.SettingsDaemon.MediaKeys ||
    fail "gsd-media-keys did not take its bus name"
  mark "gsd-media-keys ready"
fi

# The entry of programs that do not register ('') and, for portals that keep a registry of
# application ids (1.19 and later), Lumora's own.
case "$GNS_SCREENSHOT_PERMISSION" in
  yes|no)
    for app in '' io.lumora.Lumora; do
      gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
        screenshot true screenshot "$app" "['$GNS_SCREENSHOT_PERMISSION']" > /dev/null ||
        fail "permission store"
    done ;;
esac

stdbuf -oL /usr/libexec/xdg-desktop-portal -v > "$log/xdg-desktop-portal.log" 2>&1 & pids+=($!)
gdbus wait --session --timeout "$GNS_START_TIMEOUT" org.freedesktop.portal.Desktop ||
  fail "xdg-desktop-portal did not take its bus name"
mark "xdg-desktop-portal on the bus"

# Helpers for the command (see the header).
export GNS_SHOT=$GNS_DIR/portal-screenshot.py GNS_SHELL_SHOT=$GNS_DIR/shell-screenshot.py \
       GNS_INPUT=$GNS_DIR/input.py GNS_RIG=$GNS_DIR/rig.py
cat > "$GNS_SHOT" <<'PY'
#!/usr/bin/python3
"""portal-screenshot.py [--interactive] [--timeout S]: one
org.freedesktop.portal.Screenshot.Screenshot call; prints "<response> <uri> <ms>".
Exit 0 if response 0, 1 if another response, 2 on timeout, 3 on D-Bus error.
(The portal answers only the connection that asked, and drops a request whose caller
disconnects: this process stays connected until the answer.)"""
import os, sys, time
from gi.repository import Gio, GLib
interactive = "--interactive" in sys.argv
timeout = float(sys.argv[sys.argv.index("--timeout") + 1]) if "--timeout" in sys.argv else 10
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
token = "shot%d" % os.getpid()
path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
    bus.get_unique_name()[1:].replace(".", "_"), token)
loop, out = GLib.MainLoop(), {}
def on_response(_c, _s, _p, _i, _n, params):
    out["code"], results = params.unpack()
    out["uri"] = results.get("uri", "-")
    loop.quit()
bus.signal_subscribe(None, "org.freedesktop.portal.Request", "Response", path,
                     None, Gio.DBusSignalFlags.NONE, on_response)
t0 = time.monotonic()
try:
    bus.call_sync("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                  "org.freedesktop.portal.Screenshot", "Screenshot",
                  GLib.Variant("(sa{sv})", ("", {"handle_token": GLib.Variant("s", token),
                                                 "interactive": GLib.Variant("b", interactive)})),
                  GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, int(timeout * 1000), None)
except GLib.Error as e:
    print("error", e.message); sys.exit(3)
GLib.timeout_add(int(timeout * 1000), loop.quit)
loop.run()
if "code" not in out:
    print("timeout"); sys.exit(2)
print(out["code"], out["uri"], "%.1f" % ((time.monotonic() - t0) * 1000))
sys.exit(0 if out["code"] == 0 else 1)
PY
cat > "$GNS_SHELL_SHOT" <<'PY'
#!/usr/bin/python3
"""shell-screenshot.py FILE.png: the whole screen through org.gnome.Shell.Screenshot.
The shell serves only callers that own one of a few names; GNOME's own screenshot tool owns
org.gnome.Screenshot, and so does this helper while it asks. Prints the milliseconds taken."""
import sys, time
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
r = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "RequestName", GLib.Variant("(su)", ("org.gnome.Screenshot", 4)),
                  GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 5000, None)
if r.unpack()[0] not in (1, 4):
    print("org.gnome.Screenshot is taken"); sys.exit(3)
time.sleep(0.2)  # the shell learns the new owner through a NameOwnerChanged watch
t0 = time.monotonic()
ok, used = bus.call_sync("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                         "org.gnome.Shell.Screenshot", "Screenshot",
                         GLib.Variant("(bbs)", (False, False, sys.argv[1])),
                         GLib.VariantType("(bs)"), Gio.DBusCallFlags.NONE, 30000, None).unpack()
print("%.1f" % ((time.monotonic() - t0) * 1000), used)
sys.exit(0 if ok else 1)
PY
cat > "$GNS_INPUT" <<'PY'
#!/usr/bin/python3
"""input.py ACTION...: a keyboard and a pointer for the shell, through a
org.gnome.Mutter.RemoteDesktop session (the top bar shows a remote-access indicator while it
runs). ACTION is a key (X keysym name: Print, Insert, Escape, Return, Tab, F4, a, ...), a chord
"A+B" (A held while B is pressed), "click:X,Y" (left click at screen pixel X,Y) or
"sleep:SECONDS"."""
import sys, time
from gi.repository import Gio, GLib
KEYSYMS = {"Print": 0xff61, "Insert": 0xff63, "Escape": 0xff1b, "Return": 0xff0d,
           "Tab": 0xff09, "Control_L": 0xffe3, "Shift_L": 0xffe1, "Alt_L": 0xffe9,
           "Super_L": 0xffeb, "space": 0x20, "Left": 0xff51, "Right": 0xff53}
KEYSYMS.update({"F%d" % i: 0xffbd + i for i in range(1, 13)})
BTN_LEFT = 0x110
def keysym(name):
    return KEYSYMS[name] if name in KEYSYMS else ord(name) if len(name) == 1 else int(name, 0)
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
def call(path, iface, method, args=None, rtype=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, iface, method, args,
                         GLib.VariantType(rtype) if rtype else None,
                         Gio.DBusCallFlags.NONE, 5000, None)
session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", None, "(o)").unpack()[0]
S = "org.gnome.Mutter.RemoteDesktop.Session"
call(session, S, "Start")
time.sleep(0.5)  # input sent at once after Start can miss a client (XWayland) window
def send(method, fmt, *args):
    call(session, S, method, GLib.Variant(fmt, args))
    time.sleep(0.03)
for action in sys.argv[1:]:
    if action.startswith("sleep:"):
        time.sleep(float(action[6:]))
    elif action.startswith("click:"):
        # Absolute motion needs a screen-cast stream; relative motion does not: push the
        # pointer into the top left corner, then move it by the target's coordinates.
        x, y = (float(v) for v in action[6:].split(","))
        send("NotifyPointerMotionRelative", "(dd)", -100000.0, -100000.0)
        send("NotifyPointerMotionRelative", "(dd)", x, y)
        send("NotifyPointerButton", "(ib)", BTN_LEFT, True)
        time.sleep(0.1)
        send("NotifyPointerButton", "(ib)", BTN_LEFT, False)
    else:
        keys = [keysym(k) for k in action.split("+")] if action != "+" else [ord("+")]
        for k in keys:
            send("NotifyKeyboardKeysym", "(ub)", k, True)
        time.sleep(0.1)
        for k in reversed(keys):
            send("NotifyKeyboardKeysym", "(ub)", k, False)
    time.sleep(0.1)
call(session, S, "Stop")
PY
cat > "$GNS_RIG" <<'PY'
#!/usr/bin/python3
"""rig.py windows|notifications|dialogs|hide-overview: what the shell shows, as JSON, from
the session's extension: windows (title, wm_class, pid, x11, focused, minimized, frame),
notifications shown since start-up (source, title, body, time), visible modal dialogs (their
texts)."""
import sys
from gi.repository import Gio, GLib
methods = {"windows": "Windows", "notifications": "Notifications", "dialogs": "Dialogs",
           "hide-overview": "HideOverview"}
if len(sys.argv) != 2 or sys.argv[1] not in methods:
    print(__doc__, file=sys.stderr); sys.exit(2)
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
r = bus.call_sync("org.gnome.Shell", "/org/gnome/Shell/Extensions/SessionRig",
                  "org.gnome.Shell.Extensions.SessionRig", methods[sys.argv[1]], None, None,
                  Gio.DBusCallFlags.NONE, 5000, None)
if r is not None and r.n_children():
    print(r.unpack()[0])
PY
chmod +x "$GNS_SHOT" "$GNS_SHELL_SHOT" "$GNS_INPUT" "$GNS_RIG"

# Readiness: one real non-interactive Screenshot request must get Response 0 (only where the
# permission store lets it through without a dialog).
if [ "$GNS_SCREENSHOT_PERMISSION" = yes ]; then
  "$GNS_SHOT" --timeout "$GNS_START_TIMEOUT" > "$log/probe.log" 2>&1 \
    || fail "Screenshot portal: $(cat "$log/probe.log")"
  # The probe's picture (the gnome backend saves it as ~/Pictures/Screenshot.png).
  rm -f "$(python3 -c 'import sys, urllib.parse as u; print(u.unquote(u.urlparse(sys.argv[1]).path))' \
           "$(cut -d' ' -f2 "$log/probe.log")")"
  mark "Screenshot portal answered: $(cat "$log/probe.log")"
fi

# The caller's variables named in GNS_PASS_ENV.
while IFS= read -r -d '' assignment; do
  export "$assignment"
done < "$GNS_DIR/passed.env"
"$@"
rc=$?
exit $rc
