#!/usr/bin/python3
"""A stand-in for GNOME Settings' global shortcuts provider on the session bus:
org.gnome.Settings.GlobalShortcutsProvider at /org/gnome/Settings/GlobalShortcutsProvider, which
GNOME's portal backend (48 and later) asks for every BindShortcuts. GNOME Settings shows its
"Add Keyboard Shortcuts" dialog for ids it has not stored, and answers at once for stored ones;
this one accepts every preferred trigger as if the person pressed Add, and keeps what it accepted
for as long as it runs.

Writes "ready" once it owns the name (the real provider must end first, where it runs), and for each bind a line
"bound APP_ID [asked|stored] ID=TRIGGER ..." ("asked" where GNOME would have shown its dialog).
Ends when its standard input closes.
"""
import sys

from gi.repository import Gio, GLib

XML = """<node><interface name="org.gnome.Settings.GlobalShortcutsProvider">
  <method name="BindShortcuts">
    <arg type="s" name="app_id" direction="in"/>
    <arg type="s" name="parent_window" direction="in"/>
    <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
    <arg type="a(sa{sv})" name="results" direction="out"/>
  </method>
</interface></node>"""
stored = {}


def on_call(_bus, _sender, _path, _interface, method, params, invocation):
    if method != "BindShortcuts":
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
        return
    app_id, _parent, shortcuts = params.unpack()
    known = stored.setdefault(app_id, {})
    new = any(shortcut_id not in known for shortcut_id, _ in shortcuts)
    results = []
    for shortcut_id, options in shortcuts:
        trigger = known.get(shortcut_id, options.get("preferred_trigger", ""))
        known[shortcut_id] = trigger
        results.append((shortcut_id, {
            "description": GLib.Variant("s", options.get("description", "")),
            "shortcuts": GLib.Variant("as", [trigger] if trigger else []),
        }))
    print("bound %s %s %s" % (app_id, "asked" if new else "stored",
                              " ".join("%s=%s" % (i, t) for i, t in known.items())), flush=True)
    invocation.return_value(GLib.Variant("(a(sa{sv}))", (results,)))


def on_input(channel, _condition):
    if not channel.readline():
        loop.quit()
        return False
    return True


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
bus.register_object("/org/gnome/Settings/GlobalShortcutsProvider",
                    Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], on_call, None, None)
loop = GLib.MainLoop()
# GNOME's portal backend starts the real provider as it starts: this one waits in the name's
# queue and takes over when that one ends.
Gio.bus_own_name_on_connection(bus, "org.gnome.Settings.GlobalShortcutsProvider",
                               Gio.BusNameOwnerFlags.REPLACE,
                               lambda *_: print("ready", flush=True), None)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
