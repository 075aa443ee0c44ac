#!/bin/bash
# kde-session.sh - run one command inside a throwaway headless KDE Plasma Wayland desktop
# (5.27 on Debian 12, 6.3 on Debian 13): kwin_wayland (virtual output, rootless XWayland, its
# kglobalaccel), a private session bus, PipeWire + wireplumber, and xdg-desktop-portal with the
# KDE backend, in which org.freedesktop.portal.Screenshot answers non-interactively. KWin 5.27
# composites with OpenGL on llvmpipe; KWin 6 needs a DRM render node for OpenGL and otherwise
# composites with QPainter, which offers no screenshots at all (no ScreenShot2, and a portal
# that answers 1): there the start-up probe is left out and KDS_CAPTURE=0 tells the command. There is no Plasma shell: no panel, no tray host (but with
# KDS_TRAY=1), no System Settings.
#
# Usage (as root):  kde-session.sh [--] COMMAND [ARGS...]
#   The command runs as an unprivileged user ($KDS_USER, default nobody) in a new PID
#   namespace with WAYLAND_DISPLAY, DISPLAY (XWayland), DBUS_SESSION_BUS_ADDRESS,
#   XDG_RUNTIME_DIR, XDG_CONFIG_HOME/DATA_HOME/CACHE_HOME/STATE_HOME,
#   XDG_CURRENT_DESKTOP=KDE, XDG_SESSION_TYPE=wayland and HOME set, and:
#     KDS_DIR   the session directory (logs in $KDS_DIR/log, kwin.log among them)
#     KDS_SHOT  a helper that makes one Screenshot portal request and stays connected for
#               its answer; prints "<response> <uri> <ms>" (the KDE backend writes the
#               picture as ~/Pictures/Screenshot_<date>_<time>.png and leaves it there)
#     KDS_LIB   shell functions to source: kwin_js (runs a KWin script, prints what it
#               print()s), kwin_clients, kwin_activate_caption, kwin_close_caption
#     KDS_PLASMA   the Plasma major version (5 or 6)
#     KDS_CAPTURE  1 when KWin offers screenshots, 0 when it cannot (no render node)
#   Exit status: the command's, or 90+ if the desktop could not be brought up.
# The portal frontend reads backends only from a folder holding kde.portal alone
# (XDG_DESKTOP_PORTAL_DIR), so what the desktop offers does not depend on which other backends
# the machine has. The script runs from a copy in the session directory: the unprivileged user
# may not reach the folder the project was cloned in.
# Knobs: KDS_USER (nobody), KDS_SIZE (1920x1080), KDS_START_TIMEOUT (40 s),
#        KDS_TRAY=1 starts kded5/kded6 (the StatusNotifierWatcher) and a stand-in for the panel's
#        StatusNotifierHost, so tray icons are shown as under Plasma's panel,
#        KDS_PASS_ENV (names of variables passed through to the command; values without blanks),
#        KDS_COMPOSE (O2; Q = QPainter, which has no screenshot effect, so no ScreenShot2
#        and no Screenshot portal), KDS_KEEP=1 keeps the session directory (it is always
#        kept on failure), KDS_DEBUG=1 records the bus in log/dbus-monitor.log and turns on
#        KWin's, the KDE portal's and kglobalaccel's debug output.
# Debian 12 packages: kwin-wayland xwayland xdg-desktop-portal xdg-desktop-portal-kde
#   qtwayland5 breeze (the window decoration) plasma-workspace qml-module-qtquick-controls2
#   qml-module-qtquick-layouts qml-module-org-kde-kirigami2 (the KDE backend's dialogs
#   import these even for a non-interactive screenshot: without them it crashes) pipewire
#   wireplumber python3-gi x11-utils libcap2-bin, kded5 for KDS_TRAY (all with
#   --no-install-recommends; scripts/setup installs them, and the Plasma 6 names on Debian 13).
set -u

if [ "${1:-}" != "--inner" ]; then
  # ---------------------------------------------------------------- outer (root)
  [ "${1:-}" = "--" ] && shift
  [ $# -ge 1 ] || { echo "usage: $0 [--] command [args...]" >&2; exit 2; }
  [ "$(id -u)" = 0 ] || { echo "kde-session: must run as root" >&2; exit 2; }
  user=${KDS_USER:-nobody}
  uid=$(id -u "$user") && gid=$(id -g "$user") || exit 2
  self=$(readlink -f "${BASH_SOURCE[0]}")
  kwin=$(command -v kwin_wayland) || { echo "kde-session: kwin_wayland is not installed" >&2; exit 94; }
  portal_kde=$(dpkg -L xdg-desktop-portal-kde 2>/dev/null | grep -m1 '/libexec/xdg-desktop-portal-kde$')
  [ -x "$portal_kde" ] || { echo "kde-session: xdg-desktop-portal-kde is not installed" >&2; exit 94; }
  for p in Xwayland dbus-daemon pipewire wireplumber xdpyinfo python3; do
    command -v "$p" > /dev/null || { echo "kde-session: $p is not installed" >&2; exit 94; }
  done
  portal_def=/usr/share/xdg-desktop-portal/portals/kde.portal
  [ -r "$portal_def" ] || { echo "kde-session: $portal_def is missing" >&2; exit 94; }
  dir=$(mktemp -d /tmp/kds.XXXXXX) || exit 2
  chmod 755 "$dir"
  mkdir -m 700 "$dir/run" && mkdir -m 755 "$dir/home" "$dir/log" "$dir/bin" "$dir/portals"
  cp "$portal_def" "$dir/portals/" && cp "$self" "$dir/bin/kde-session.sh" || exit 2
  self=$dir/bin/kde-session.sh
  chmod -R a+rX "$dir/bin" "$dir/portals"
  pass=()
  for v in ${KDS_PASS_ENV:-}; do [ -n "${!v+x}" ] && pass+=("$v=${!v}"); done
  # kwin_wayland carries a file capability (5.27 cap_sys_resource, 6 cap_sys_nice); where
  # the bounding set lacks it (containers), executing it fails with EPERM ("Operation not
  # permitted"). A copy has no capabilities and runs.
  caps=$(getcap "$kwin" 2>/dev/null | sed -n 's/.* \(cap_[a-z_,]*\).*/\1/p')
  for c in ${caps//,/ }; do
    if ! capsh --has-b="$c" 2>/dev/null; then
      cp "$kwin" "$dir/bin/kwin_wayland"; kwin=$dir/bin/kwin_wayland; break
    fi
  done
  plasma=$("$kwin" --version 2>/dev/null | sed -n 's/^kwin[_a-z]* \([0-9]*\)\..*/\1/p')
  plasma=${plasma:-5}
  # KWin 6 composites with OpenGL only through a DRM render node; without one, no screenshots.
  capture=1
  [ "$plasma" -ge 6 ] && ! ls /dev/dri/renderD* > /dev/null 2>&1 && capture=0
  export KDS_UID=$uid KDS_GID=$gid KDS_USER=$user KDS_DIR=$dir TERM=${TERM:-dumb} \
    KDS_SIZE=${KDS_SIZE:-1920x1080} KDS_START_TIMEOUT=${KDS_START_TIMEOUT:-40} \
    KDS_DEBUG=${KDS_DEBUG:-} KDS_COMPOSE=${KDS_COMPOSE:-O2} KDS_KWIN=$kwin KDS_PORTAL_KDE=$portal_kde \
    KDS_TRAY=${KDS_TRAY:-} KDS_PLASMA=$plasma KDS_CAPTURE=$capture
  # One NAME=value a line, word-split into env's arguments: values must hold no blanks.
  printf '%s\n' "${pass[@]}" > "$dir/pass.env"
  chown "$uid:$gid" "$dir" "$dir/run" "$dir/home" "$dir/log"
  # New PID namespace. Its PID 1 is a root bash (it reaps orphans); if it dies the kernel
  # kills everything else in the namespace, and nothing outside it. It must stay root:
  # --kill-child's parent-death signal does not survive a change of user.
  cd "$dir" || exit 2  # the caller's folder may be closed to the user
  exec 8<&0
  unshare --pid --fork --kill-child --mount-proc -- bash -c 'set -f
    setpriv --reuid="$KDS_UID" --regid="$KDS_GID" --clear-groups -- \
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      LANG=C.UTF-8 HOME="$KDS_DIR/home" USER="$KDS_USER" LOGNAME="$KDS_USER" \
      XDG_RUNTIME_DIR="$KDS_DIR/run" KDS_DIR="$KDS_DIR" KDS_SIZE="$KDS_SIZE" \
      KDS_START_TIMEOUT="$KDS_START_TIMEOUT" KDS_DEBUG="$KDS_DEBUG" KDS_COMPOSE="$KDS_COMPOSE" \
      KDS_KWIN="$KDS_KWIN" KDS_PORTAL_KDE="$KDS_PORTAL_KDE" KDS_TRAY="$KDS_TRAY" TERM="$TERM" \
      KDS_PLASMA="$KDS_PLASMA" KDS_CAPTURE="$KDS_CAPTURE" \
      $(cat "$KDS_DIR/pass.env") \
    bash "$0" --inner "$@"; exit $?' "$self" "$@" <&8 &
  upid=$!
  # unshare blocks SIGTERM while its child runs; on abort kill it outright and the kernel
  # takes the whole namespace down with it.
  trap 'kill -KILL $upid 2>/dev/null' INT TERM HUP
  wait $upid; rc=$?
  while kill -0 $upid 2>/dev/null; do wait $upid; rc=$?; done
  # Xwayland leaves /tmp/.X<n>-lock and its socket behind if it was killed.
  if [ -s "$dir/display" ]; then
    n=$(cut -d: -f2 "$dir/display" | cut -d. -f1)
    for f in "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"; do
      [ -e "$f" ] && [ "$(stat -c %u "$f")" = "$uid" ] && rm -f "$f"
    done
  fi
  if [ "$rc" -ne 0 ] || [ -n "${KDS_KEEP:-}" ]; then
    echo "kde-session: rc=$rc, session kept in $dir" >&2
  else
    rm -rf "$dir"
  fi
  exit "$rc"
fi

# ------------------------------------------ inner (unprivileged user, new PID namespace)
shift
log=$KDS_DIR/log
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share \
       XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$HOME/Pictures"
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE XDG_SESSION_TYPE=wayland \
       KDE_FULL_SESSION=true KDE_SESSION_VERSION=$KDS_PLASMA QT_QUICK_BACKEND=software LIBGL_ALWAYS_SOFTWARE=1 \
       XDG_DESKTOP_PORTAL_DIR=$KDS_DIR/portals KDE_DEBUG=1
# KDE_DEBUG keeps KCrash from starting DrKonqi, whose window would take the focus.
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
fail() { echo "kde-session: $*" >&2; tail -n 20 "$log"/*.log >&2; exit 93; }
deadline=$((SECONDS + KDS_START_TIMEOUT))
t0=$(date +%s%N)
mark() { echo "$(( ($(date +%s%N) - t0) / 1000000 )) ms  $*" >> "$log/startup.log"; }
waitfor() { until eval "$1"; do [ $SECONDS -lt $deadline ] || fail "timeout: $2"; sleep 0.05; done; }

# Private session bus; services it activates log to dbus.log.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
  > "$log/dbus.log" 2>&1 & pids+=($!)
waitfor '[ -S "$XDG_RUNTIME_DIR/bus" ]' "dbus-daemon did not start"
rules="kwin_scripting.debug=true"  # scripts' print() goes to kwin.log
if [ -n "$KDS_DEBUG" ]; then
  rules="kwin_*.debug=true;xdp-kde*.debug=true;kf.globalaccel*.debug=true"
  dbus-monitor --session > "$log/dbus-monitor.log" 2>&1 & pids+=($!)
fi

# KWin starts its session program once Wayland and XWayland are up, with DISPLAY set; it
# takes a program path only (no arguments), so the program is a small script. Without a
# DRM device the virtual backend renders through EGL on llvmpipe; only OpenGL compositing
# offers the screenshot effect (ScreenShot2, and the old interface the KDE portal uses).
cat > "$KDS_DIR/session-program" <<'SH'
#!/bin/sh
env > "$KDS_DIR/kwin.env.part" && mv "$KDS_DIR/kwin.env.part" "$KDS_DIR/kwin.env"
exec sleep 2147483647
SH
chmod +x "$KDS_DIR/session-program"
w=${KDS_SIZE%x*} h=${KDS_SIZE#*x}
KWIN_COMPOSE=$KDS_COMPOSE QT_LOGGING_RULES=$rules \
  "$KDS_KWIN" --virtual --width "$w" --height "$h" --xwayland --socket wayland-0 --no-lockscreen \
  "$KDS_DIR/session-program" > "$log/kwin.log" 2>&1 & pids+=($!)
waitfor '[ -s "$KDS_DIR/kwin.env" ]' "kwin_wayland did not start its session program"
export WAYLAND_DISPLAY=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$KDS_DIR/kwin.env")
export DISPLAY=$(sed -n 's/^DISPLAY=//p' "$KDS_DIR/kwin.env")
x=$(sed -n 's/^XAUTHORITY=//p' "$KDS_DIR/kwin.env"); [ -n "$x" ] && export XAUTHORITY=$x
echo "$DISPLAY" > "$KDS_DIR/display"
waitfor 'xdpyinfo >/dev/null 2>&1' "XWayland on $DISPLAY did not answer"
mark "kwin_wayland + XWayland $DISPLAY ready"

# Portals, PipeWire and the permission store are D-Bus activated (or started below) with
# this environment.
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP \
  XDG_SESSION_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME XDG_DATA_HOME \
  XDG_CACHE_HOME XDG_STATE_HOME PATH KDE_FULL_SESSION KDE_SESSION_VERSION QT_QUICK_BACKEND \
  LIBGL_ALWAYS_SOFTWARE XDG_DESKTOP_PORTAL_DIR KDE_DEBUG ${XAUTHORITY:+XAUTHORITY} \
  || fail "dbus-update-activation-environment"

pipewire > "$log/pipewire.log" 2>&1 & pids+=($!)
waitfor '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' "pipewire did not start"
wireplumber > "$log/wireplumber.log" 2>&1 & pids+=($!)
mark "pipewire ready"

# xdg-desktop-portal 1.16 asks the Access backend (a dialog) before a non-interactive
# screenshot unless the permission store already says yes.
# Programs that do not register ('') and, where the portal keeps a registry of application
# ids (1.19 and later), Lumora by its own.
for app in '' io.lumora.Lumora; do
  gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
    screenshot true screenshot "$app" "['yes']" > /dev/null || fail "permission store"
done

# The KDE backend as a native Wayland client (KWin grants it its restricted interfaces by
# its desktop entry), then the frontend; both by hand, their logs captured.
QT_QPA_PLATFORM=wayland QT_LOGGING_RULES=${rules/kwin_scripting.debug=true/} \
  stdbuf -oL "$KDS_PORTAL_KDE" > "$log/xdg-desktop-portal-kde.log" 2>&1 & pids+=($!)
gdbus wait --session --timeout "$KDS_START_TIMEOUT" org.freedesktop.impl.portal.desktop.kde \
  || fail "xdg-desktop-portal-kde did not take its bus name"
mark "xdg-desktop-portal-kde on the bus"
stdbuf -oL /usr/libexec/xdg-desktop-portal -v > "$log/xdg-desktop-portal.log" 2>&1 & pids+=($!)
gdbus wait --session --timeout "$KDS_START_TIMEOUT" org.freedesktop.portal.Desktop \
  || fail "xdg-desktop-portal did not take its bus name"
mark "xdg-desktop-portal on the bus"

# Readiness: one real non-interactive Screenshot request must get Response 0. (The portal
# answers only the caller's own connection and drops the request when the caller
# disconnects, so this helper stays connected. Commands may use it too: $KDS_SHOT.)
export KDS_SHOT=$KDS_DIR/portal-screenshot.py
cat > "$KDS_SHOT" <<'PY'
#!/usr/bin/python3
"""portal-screenshot.py [--interactive] [--timeout S]: one
org.freedesktop.portal.Screenshot.Screenshot call; prints "<response> <uri> <ms>".
Exit 0 if response 0, 1 if another response, 2 on timeout, 3 on D-Bus error."""
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
chmod +x "$KDS_SHOT"
if [ "$KDS_CAPTURE" = 1 ]; then
  "$KDS_SHOT" --timeout "$KDS_START_TIMEOUT" > "$log/probe.log" 2>&1 \
    || fail "Screenshot portal: $(cat "$log/probe.log")"
  mark "Screenshot portal answered: $(cat "$log/probe.log")"
  probe=$(awk '{print $2}' "$log/probe.log"); probe=${probe#file://}
  case $probe in "$HOME"/*) rm -f "$probe" ;; esac   # the probe's picture, not the command's
else
  mark "no DRM render node: KWin $KDS_PLASMA composites with QPainter (no screenshots); probe left out"
fi

if [ -n "$KDS_TRAY" ]; then
  # kded5 brings the StatusNotifierWatcher; the panel's part, a StatusNotifierHost, is a
  # name on the bus that registers itself with the watcher and stays.
  "kded$KDS_PLASMA" > "$log/kded.log" 2>&1 & pids+=($!)
  gdbus wait --session --timeout "$KDS_START_TIMEOUT" org.kde.StatusNotifierWatcher \
    || fail "kded$KDS_PLASMA offered no StatusNotifierWatcher"
  python3 -c '
import os, sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
name = "org.kde.StatusNotifierHost-%d" % os.getpid()
def owned(*_):
    bus.call_sync("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                  "org.kde.StatusNotifierWatcher", "RegisterStatusNotifierHost",
                  GLib.Variant("(s)", (name,)), None, Gio.DBusCallFlags.NONE, 5000, None)
    print("host", name, flush=True)
Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, owned, None)
GLib.MainLoop().run()' > "$log/tray-host.log" 2>&1 & pids+=($!)
  waitfor 'grep -q "^host" "$log/tray-host.log"' "the tray host did not register"
  mark "tray host registered"
fi

# KWin scripting from the command: KWin 5.27 registers a loaded script at /<id>.
export KDS_LIB=$KDS_DIR/kwin-lib.sh
cat > "$KDS_LIB" <<'LIB'
# Sourced by commands inside kde-session.sh.
kwin_js() {  # kwin_js 'javascript using @TAG@': prints what the script print()s after @TAG@
  local tag="KJS$$x$RANDOM" f id p
  f=$KDS_DIR/js-$tag.js
  printf '%s\n' "$1" | sed "s/@TAG@/$tag/g" > "$f"
  id=$(gdbus call --session --dest org.kde.KWin --object-path /Scripting \
       --method org.kde.kwin.Scripting.loadScript "$f" "$tag" | tr -dc '0-9')
  # KWin 6 registers a loaded script at /Scripting/Script<id>, 5.27 at /<id>.
  for p in "/Scripting/Script$id" "/$id"; do
    gdbus call --session --dest org.kde.KWin --object-path "$p" \
      --method org.kde.kwin.Script.run > /dev/null 2>&1 && break
  done
  for _ in $(seq 40); do grep -aq "$tag" "$KDS_DIR/log/kwin.log" && break; sleep 0.05; done
  sleep 0.1
  gdbus call --session --dest org.kde.KWin --object-path /Scripting \
    --method org.kde.kwin.Scripting.unloadScript "$tag" > /dev/null
  grep -a "$tag" "$KDS_DIR/log/kwin.log" | sed "s/.*$tag //; s/\"\$//"
}
kwin_clients() {  # one line per window: resourceClass|caption|pid|x,y,w,h (frame)|active
  kwin_js 'var a = workspace.activeWindow || workspace.activeClient,
  l = workspace.windowList ? workspace.windowList() : workspace.clientList();
for (var i = 0; i < l.length; i++) { var c = l[i], g = c.frameGeometry;
  if (workspace.windowList && !c.normalWindow && !c.dialog) continue;  // 6 lists panels, popups too
  print("@TAG@ " + c.resourceClass + "|" + c.caption + "|" + c.pid + "|" + g.x + "," + g.y + "," + g.width + "," + g.height + "|" + (c === a)); }'
}
kwin_activate_caption() {  # gives the focus to the window whose caption contains TEXT
  kwin_js "var l = workspace.windowList ? workspace.windowList() : workspace.clientList(); for (var i = 0; i < l.length; i++) if (l[i].caption.indexOf('$1') >= 0) { if (workspace.windowList) workspace.activeWindow = l[i]; else workspace.activeClient = l[i]; print('@TAG@ ok ' + l[i].caption); }"
}
kwin_close_caption() {  # closes it as its title bar's close button does
  kwin_js "var l = workspace.windowList ? workspace.windowList() : workspace.clientList(); for (var i = 0; i < l.length; i++) if (l[i].caption.indexOf('$1') >= 0) { l[i].closeWindow(); print('@TAG@ closed ' + l[i].caption); }"
}
LIB

"$@"
