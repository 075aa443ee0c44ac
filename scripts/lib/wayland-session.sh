#!/bin/bash
# Runs one command inside a throwaway headless Wayland desktop: sway + XWayland + PipeWire +
# xdg-desktop-portal with the wlr and gtk backends, where org.freedesktop.portal.Screenshot
# answers without asking. Used by the Wayland tests and scripts/bench.
#
#   scripts/lib/wayland-session.sh [--] COMMAND [ARGS...]
#
# As root the desktop and the command run as an unprivileged user ($WLS_USER, default nobody)
# in a PID namespace of their own, so nothing outlives the session; as any other user they run
# as that user. The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), SWAYSOCK,
# DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_*_HOME, XDG_CURRENT_DESKTOP=sway,
# XDG_SESSION_TYPE=wayland, a fresh HOME, XDG_DESKTOP_PORTAL_DIR (only the wlr and gtk
# backends) and WLS_DIR (the session folder, owned by that user; logs in $WLS_DIR/log). The
# session runs from a copy of this script in that folder, so the checkout may sit where the
# user cannot go (root's home, a 0700 folder); the command must be readable (and what it
# writes writable) by that user. The folder is removed at the end, also on failure.
# Exit status: the command's, or 90-99 when the desktop could not be brought up.
# Knobs: WLS_USER (nobody), WLS_SIZE (1920x1080), WLS_START_TIMEOUT (20 s), WLS_PORTAL (1; 0
# starts no portal at all and keeps the bus from activating one), WLS_PASS_ENV (names of
# variables handed to the command), WLS_KEEP=1 keeps the session folder.
set -u

if [ "${1:-}" != "--inner" ]; then
  # ------------------------------------------------------------------------ outer
  [ "${1:-}" = "--" ] && shift
  [ $# -ge 1 ] || { echo "usage: $0 [--] command [args...]" >&2; exit 2; }
  for tool in sway Xwayland xdpyinfo swaymsg dbus-daemon gdbus python3; do
    command -v "$tool" >/dev/null 2>&1 ||
      { echo "wayland-session: $tool is not installed (scripts/setup installs it)" >&2; exit 94; }
  done
  if [ "${WLS_PORTAL:-1}" = 1 ]; then
    for f in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr pipewire wireplumber; do
      command -v "$f" >/dev/null 2>&1 ||
        { echo "wayland-session: $f is not installed (scripts/setup installs it)" >&2; exit 94; }
    done
  fi
  if [ "$(id -u)" = 0 ]; then
    user=${WLS_USER:-nobody}
  else
    user=$(id -un)
  fi
  uid=$(id -u "$user") && gid=$(id -g "$user") || exit 95
  self=$(readlink -f "${BASH_SOURCE[0]}")
  # xdg-desktop-portal-wlr writes every picture to /tmp/out.png: sessions on this machine take
  # turns, so two of them never race on that file.
  exec 9>>/tmp/.lumora-wayland-session.lock
  flock -w "${WLS_LOCK_TIMEOUT:-600}" 9 || { echo "wayland-session: lock busy" >&2; exit 91; }
  if [ -e /tmp/out.png ] && [ "$(stat -c %u /tmp/out.png)" != "$uid" ]; then
    echo "wayland-session: /tmp/out.png belongs to uid $(stat -c %u /tmp/out.png);" \
         "the portal (as uid $uid) could not replace it" >&2
    exit 92
  fi
  dir=$(mktemp -d /tmp/lumora-wls.XXXXXX) || exit 95
  # What the command needs from the caller's environment, passed by name.
  passed=()
  for name in ${WLS_PASS_ENV:-}; do
    [ -n "${!name+x}" ] && passed+=("$name=${!name}")
  done
  : > "$dir/passed.env"
  [ ${#passed[@]} -eq 0 ] || printf '%s\0' "${passed[@]}" > "$dir/passed.env"
  export WLS_UID=$uid WLS_GID=$gid WLS_USER=$user WLS_DIR=$dir TERM=${TERM:-dumb} \
    WLS_SIZE=${WLS_SIZE:-1920x1080} WLS_START_TIMEOUT=${WLS_START_TIMEOUT:-20} \
    WLS_PORTAL=${WLS_PORTAL:-1}
  # The folder goes with the session, however it ends (a desktop that did not come up has
  # already put the logs' last lines on stderr).
  finish() {
    local rc=$1
    if [ -n "${WLS_KEEP:-}" ]; then
      echo "wayland-session: status $rc, session kept in $dir" >&2
    else
      [ "$rc" -eq 0 ] ||
        echo "wayland-session: status $rc (WLS_KEEP=1 keeps the session folder and its logs)" >&2
      rm -rf "$dir"
    fi
  }
  trap 'finish $?' EXIT
  chmod 755 "$dir"; touch "$dir/started"
  mkdir -m 700 "$dir/run" && mkdir -m 755 "$dir/home" "$dir/log"
  # The session runs from its own copy: the user may not be able to reach the checkout.
  install -m 644 "$self" "$dir/session.sh"
  chown "$uid:$gid" "$dir" "$dir/run" "$dir/home" "$dir/log" "$dir/passed.env" "$dir/session.sh"
  inner_env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    LANG=C.UTF-8 HOME="$dir/home" USER="$user" LOGNAME="$user" XDG_RUNTIME_DIR="$dir/run"
    WLS_DIR="$dir" WLS_SIZE="$WLS_SIZE" WLS_START_TIMEOUT="$WLS_START_TIMEOUT"
    WLS_PORTAL="$WLS_PORTAL" TERM="$TERM")
  if [ "$(id -u)" = 0 ]; then
    # A new PID namespace whose PID 1 is a root bash (it reaps orphans); when it dies the
    # kernel kills everything else in the namespace. It stays root because the parent-death
    # signal of --kill-child does not survive a change of user; setpriv runs below it.
    exec 8<&0
    unshare --pid --fork --kill-child --mount-proc -- bash -c '
      self=$1; shift; envs=()
      while [ "$1" != -- ]; do envs+=("$1"); shift; done
      setpriv --reuid="$WLS_UID" --regid="$WLS_GID" --clear-groups -- \
        "${envs[@]}" bash "$self" --inner "$@"; exit $?
      ' bash "$dir/session.sh" "${inner_env[@]}" -- "$@" <&8 &
  else
    "${inner_env[@]}" bash "$dir/session.sh" --inner -- "$@" &
  fi
  upid=$!
  trap 'kill -KILL $upid 2>/dev/null' INT TERM HUP
  wait $upid; rc=$?
  while kill -0 $upid 2>/dev/null; do wait $upid; rc=$?; done
  # Xwayland leaves its lock and socket behind when it was killed.
  if [ -s "$dir/display" ]; then
    n=$(cut -c2- "$dir/display")
    for f in "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"; do
      [ -e "$f" ] && [ "$(stat -c %u "$f")" = "$uid" ] && rm -f "$f"
    done
  fi
  # The portal's last picture, should anything have left it, goes with the session.
  [ "$(stat -c %u /tmp/out.png 2>/dev/null)" = "$uid" ] && [ /tmp/out.png -nt "$dir/started" ] &&
    rm -f /tmp/out.png
  exit "$rc"
fi

# ---------------------------------------------- inner (the session's user, own namespace)
shift
[ "${1:-}" = "--" ] && shift
log=$WLS_DIR/log
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share \
       XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr" "$XDG_DATA_HOME/dbus-1/services" \
         "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$HOME/Pictures"
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
       XDG_CURRENT_DESKTOP=sway XDG_SESSION_DESKTOP=sway XDG_SESSION_TYPE=wayland
pids=()
cleanup() {  # newest first; outside a PID namespace this is all that stops them
  local i p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}; kill -TERM "$p" 2>/dev/null || continue
    for _ in $(seq 40); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
}
trap cleanup EXIT
fail() { echo "wayland-session: $*" >&2; tail -n 20 "$log"/*.log >&2; exit 93; }
deadline=$((SECONDS + WLS_START_TIMEOUT))
waitfor() { until eval "$1"; do [ $SECONDS -lt $deadline ] || fail "timeout: $2"; sleep 0.05; done; }

export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
if [ "$WLS_PORTAL" = 1 ]; then
  dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
    > "$log/dbus.log" 2>&1 & pids+=($!)
else
  # A bus that knows no service to start: no portal can come up, as on a desktop without one.
  cat > "$WLS_DIR/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>$DBUS_SESSION_BUS_ADDRESS</listen>
  <servicedir>$XDG_DATA_HOME/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --config-file="$WLS_DIR/bus.conf" --nofork --nopidfile > "$log/dbus.log" 2>&1 &
  pids+=($!)
fi
waitfor '[ -S "$XDG_RUNTIME_DIR/bus" ]' "dbus-daemon did not start"

cat > "$XDG_CONFIG_HOME/sway.cfg" <<EOF
output HEADLESS-1 resolution $WLS_SIZE position 0 0 bg #3465a4 solid_color
xwayland force
default_border normal
# A bar with a tray (StatusNotifierItem), where the program's tray icon and messages go.
bar {
  id tray
  position bottom
  tray_output *
}
exec env > $WLS_DIR/sway.env
EOF
cat > "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<'EOF'
[screencast]
output_name=HEADLESS-1
chooser_type=none
EOF

sway -c "$XDG_CONFIG_HOME/sway.cfg" > "$log/sway.log" 2>&1 & pids+=($!)
waitfor 'grep -q "^DISPLAY=" "$WLS_DIR/sway.env" 2>/dev/null && grep -q "^SWAYSOCK=" "$WLS_DIR/sway.env"' \
  "sway did not start"
sleep 0.05  # sway.env is written by a shell; let it finish
export WAYLAND_DISPLAY=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$WLS_DIR/sway.env")
export SWAYSOCK=$(sed -n 's/^SWAYSOCK=//p' "$WLS_DIR/sway.env")
export DISPLAY=$(sed -n 's/^DISPLAY=//p' "$WLS_DIR/sway.env")
echo "$DISPLAY" > "$WLS_DIR/display"
waitfor 'xdpyinfo >/dev/null 2>&1' "XWayland on $DISPLAY did not answer"
waitfor 'swaymsg -t get_outputs 2>/dev/null | grep -q HEADLESS-1' "no HEADLESS-1 output"

# The portal backends a sway desktop has, and no others: xdg-desktop-portal 1.16 falls back to
# any installed backend for an interface these lack, and with KDE's installed on the machine it
# would offer GlobalShortcuts here through kde.portal.
mkdir -p "$WLS_DIR/portals"
for backend in wlr gtk; do
  [ ! -e "/usr/share/xdg-desktop-portal/portals/$backend.portal" ] ||
    cp "/usr/share/xdg-desktop-portal/portals/$backend.portal" "$WLS_DIR/portals/"
done
export XDG_DESKTOP_PORTAL_DIR=$WLS_DIR/portals

# Services the bus starts get this environment (the gtk backend needs the display).
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP \
  XDG_SESSION_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME XDG_DATA_HOME \
  XDG_CACHE_HOME XDG_STATE_HOME XDG_DESKTOP_PORTAL_DIR PATH ||
  fail "dbus-update-activation-environment"

if [ "$WLS_PORTAL" = 1 ]; then
  pipewire > "$log/pipewire.log" 2>&1 & pids+=($!)
  waitfor '[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]' "pipewire did not start"
  wireplumber > "$log/wireplumber.log" 2>&1 & pids+=($!)
  # Without a stored yes, xdg-desktop-portal 1.16 first asks (a GTK dialog) before a
  # non-interactive screenshot.
  gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
    screenshot true screenshot '' "['yes']" > /dev/null || fail "permission store"
  # xdg-desktop-portal-wlr 0.7 can leave the request that activated it unanswered, and the
  # frontend then never comes up: start it by name and poke it until it answers.
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.StartServiceByName org.freedesktop.impl.portal.desktop.wlr 0 \
    > /dev/null || fail "cannot start xdg-desktop-portal-wlr"
  until timeout 0.5 gdbus call --session --timeout 1 --dest org.freedesktop.impl.portal.desktop.wlr \
    --object-path /org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.GetAll \
    org.freedesktop.impl.portal.Screenshot > /dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "xdg-desktop-portal-wlr does not answer"
  done
  /usr/libexec/xdg-desktop-portal > "$log/xdg-desktop-portal.log" 2>&1 & pids+=($!)
  gdbus wait --session --timeout "$WLS_START_TIMEOUT" org.freedesktop.portal.Desktop \
    || fail "xdg-desktop-portal did not take its bus name"

  # Ready once one real request is answered. The portal answers only the connection that
  # asked, and drops the request when it goes: this helper stays connected. Tests may use it
  # too ($WLS_SHOT).
  export WLS_SHOT=$WLS_DIR/portal-screenshot.py
  cat > "$WLS_SHOT" <<'PY'
#!/usr/bin/python3
"""portal-screenshot.py [--timeout S]: one non-interactive Screenshot request; prints
"<response> <uri> <ms>". Exit 0 on response 0, 1 on another, 2 on timeout, 3 on a D-Bus error."""
import os, sys, time
from gi.repository import Gio, GLib
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
                                                 "interactive": GLib.Variant("b", False)})),
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
  chmod +x "$WLS_SHOT"
  "$WLS_SHOT" --timeout "$WLS_START_TIMEOUT" > "$log/probe.log" 2>&1 ||
    fail "Screenshot portal: $(cat "$log/probe.log")"
  rm -f /tmp/out.png  # the probe's picture
fi

# The caller's variables named in WLS_PASS_ENV.
while IFS= read -r -d '' assignment; do
  export "$assignment"
done < "$WLS_DIR/passed.env"
"$@"
