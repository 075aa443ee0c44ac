#!/usr/bin/python3
"""A stand-in for the desktop's screen saver on the session bus: org.freedesktop.ScreenSaver at
/org/freedesktop/ScreenSaver and /ScreenSaver (as KDE offers it), with GetActive and the
ActiveChanged signal on both paths.

With a second argument, the address of a bus standing in for the system bus, it also stands in
for logind there: GetSession answers one session object whose LockedHint property changes with
PropertiesChanged.

Reads commands on stdin, one a line: "lock" and "unlock" for the screen saver (the first
argument, "locked", starts it locked), "hint on" and "hint off" for LockedHint. Writes "ready"
once it owns its names, "active true|false" and "hint true|false" after each change.
"""
import sys

from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="GetActive"><arg type="b" direction="out"/></method>
  <signal name="ActiveChanged"><arg type="b"/></signal>
</interface></node>"""
LOGIN_XML = """<node><interface name="org.freedesktop.login1.Manager">
  <method name="GetSession"><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
</interface><interface name="org.freedesktop.login1.Session">
  <property name="LockedHint" type="b" access="read"/>
</interface></node>"""
PATHS = ("/org/freedesktop/ScreenSaver", "/ScreenSaver")
SESSION = "/org/freedesktop/login1/session/_31"
state = {"active": sys.argv[1:2] == ["locked"], "hint": False, "names": 0}


def say(text):
    print(text, flush=True)


def on_call(_bus, _sender, _path, _interface, method, _params, invocation):
    if method == "GetActive":
        invocation.return_value(GLib.Variant("(b)", (state["active"],)))
    else:
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def on_login_call(_bus, _sender, _path, _interface, _method, _params, invocation):
    invocation.return_value(GLib.Variant("(o)", (SESSION,)))


def on_login_property(_bus, _sender, _path, _interface, _name):
    return GLib.Variant("b", state["hint"])


def on_name(*_):
    state["names"] -= 1
    if state["names"] == 0:
        say("ready")


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
    elif word in ("hint on", "hint off") and login:
        state["hint"] = word == "hint on"
        login.emit_signal(None, SESSION, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                          GLib.Variant("(sa{sv}as)", ("org.freedesktop.login1.Session",
                                                      {"LockedHint": GLib.Variant("b", state["hint"])},
                                                      [])))
        login.flush_sync(None)
        say("hint " + ("true" if state["hint"] else "false"))
    return True


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
interface = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
for path in PATHS:
    bus.register_object(path, interface, on_call, None, None)
login = None
state["names"] = 1
if len(sys.argv) > 2:
    login = Gio.DBusConnection.new_for_address_sync(
        sys.argv[2], Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    manager, session = Gio.DBusNodeInfo.new_for_xml(LOGIN_XML).interfaces
    login.register_object("/org/freedesktop/login1", manager, on_login_call, None, None)
    login.register_object(SESSION, session, None, on_login_property, None)
    state["names"] = 2
loop = GLib.MainLoop()
Gio.bus_own_name_on_connection(bus, "org.freedesktop.ScreenSaver", Gio.BusNameOwnerFlags.NONE,
                               on_name, lambda *_: loop.quit())
if login:
    Gio.bus_own_name_on_connection(login, "org.freedesktop.login1", Gio.BusNameOwnerFlags.NONE,
                                   on_name, lambda *_: loop.quit())
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP,
                  on_command, bus)
loop.run()
