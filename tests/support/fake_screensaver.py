#!/usr/bin/python3
"""A stand-in for the desktop's screen saver on the session bus: org.freedesktop.ScreenSaver at
/org/freedesktop/ScreenSaver and /ScreenSaver (as KDE offers it), with GetActive and the
ActiveChanged signal on both paths.

Reads commands on stdin, one a line: "lock" and "unlock" (the first argument, "locked", starts
it locked). Writes "ready" once it owns the name, and "active true|false" after each change.
"""
import sys

from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="GetActive"><arg type="b" direction="out"/></method>
  <signal name="ActiveChanged"><arg type="b"/></signal>
</interface></node>"""
PATHS = ("/org/freedesktop/ScreenSaver", "/ScreenSaver")
state = {"active": sys.argv[1:] == ["locked"]}


def say(text):
    print(text, flush=True)


def on_call(_bus, _sender, _path, _interface, method, _params, invocation):
    if method == "GetActive":
        invocation.return_value(GLib.Variant("(b)", (state["active"],)))
    else:
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def on_command(channel, _condition, bus):
    line = channel.readline()
    if not line:
        loop.quit()
        return False
    word = line.strip()
    if word in ("lock", "unlock"):
        state["active"] = word == "lock"
        for path in PATHS:
            bus.emit_signal(None, path, "org.freedesktop.ScreenSaver", "ActiveChanged",
                            GLib.Variant("(b)", (state["active"],)))
        bus.flush_sync(None)
        say("active " + ("true" if state["active"] else "false"))
    return True


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
interface = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
for path in PATHS:
    bus.register_object(path, interface, on_call, None, None)
loop = GLib.MainLoop()
Gio.bus_own_name_on_connection(bus, "org.freedesktop.ScreenSaver", Gio.BusNameOwnerFlags.NONE,
                               lambda *_: say("ready"), lambda *_: loop.quit())
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP,
                  on_command, bus)
loop.run()
