#!/usr/bin/python3
"""A stand-in for a desktop portal that offers what the test desktop's own cannot: global
shortcuts, and a Screenshot that writes a new file per request (as GNOME's and KDE's do) or
refuses (as a user can). It takes the portal's bus name, so it runs on a bus without one. It
also stands in for KWin's ScreenShot2: CaptureActiveWindow sends a 300x200 picture of the
colour #c04020 through the caller's pipe.

Reads commands on stdin, one a line:
  activate ID    emit Activated for the shortcut ID of the bound session
  refuse         answer the next Screenshot with response 1 (the user said no)
  late SECONDS   write the next Screenshot's picture and answer only SECONDS later
Writes what happened on stdout: "ready", "bound ID=TRIGGER ...", "shot PATH", "refused",
"kwin OPTION=VALUE ...".
Every Screenshot picture is the colour #3080c0 all over, of the size given as argv[1] (WxH).
"""
import os
import struct
import sys
import threading
import zlib

from gi.repository import Gio, GLib

XML = """<node>
<interface name="org.freedesktop.portal.Screenshot">
  <method name="Screenshot"><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.portal.GlobalShortcuts">
  <method name="CreateSession"><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
    <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    <arg type="o" direction="out"/></method>
  <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
  <property name="version" type="u" access="read"/>
</interface>
</node>"""
KWIN_XML = """<node><interface name="org.kde.KWin.ScreenShot2">
  <method name="CaptureActiveWindow"><arg type="a{sv}" direction="in"/><arg type="h" direction="in"/>
    <arg type="a{sv}" direction="out"/></method>
  <property name="Version" type="u" access="read"/>
</interface></node>"""

width, height = (int(v) for v in sys.argv[1].split("x"))
state = {"refuse": False, "late": 0, "session": None, "owner": None, "shots": 0}


def say(text):
    print(text, flush=True)


def png(path):
    row = b"\0" + bytes((0x30, 0x80, 0xC0)) * width

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    data = (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * height, 1)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


def request_path(sender, token):
    return "/org/freedesktop/portal/desktop/request/%s/%s" % (
        sender[1:].replace(".", "_"), token)


def respond(bus, sender, path, code, results):
    def emit():
        bus.emit_signal(sender, path, "org.freedesktop.portal.Request", "Response",
                        GLib.Variant("(ua{sv})", (code, results)))
        return False
    GLib.timeout_add(20, emit)


def on_kwin_call(_bus, _sender, _path, _interface, _method, params, invocation):
    options = params.unpack()[0]
    say("kwin " + " ".join("%s=%s" % kv for kv in sorted(options.items())))
    fd = invocation.get_message().get_unix_fd_list().get(params.get_child_value(1).get_handle())
    w, h = 300, 200
    invocation.return_value(GLib.Variant("(a{sv})", ({
        "type": GLib.Variant("s", "raw"), "width": GLib.Variant("u", w),
        "height": GLib.Variant("u", h), "stride": GLib.Variant("u", w * 4),
        "format": GLib.Variant("u", 5)},)))  # QImage::Format_ARGB32_Premultiplied

    def write():  # after the reply, as KWin does
        with os.fdopen(fd, "wb") as pipe:
            pipe.write(struct.pack("<I", 0xFFC04020) * (w * h))
    threading.Thread(target=write).start()


def on_call(bus, sender, _path, interface, method, params, invocation):
    args = params.unpack()
    options = args[-1]
    path = request_path(sender, options.get("handle_token", "t"))
    invocation.return_value(GLib.Variant("(o)", (path,)))
    if method == "Screenshot":
        if state["refuse"]:
            state["refuse"] = False
            say("refused")
            respond(bus, sender, path, 1, {})
            return
        state["shots"] += 1
        file = "/tmp/lumora-fake-portal-%d-%d.png" % (os.getpid(), state["shots"])

        def shoot():
            png(file)
            say("shot " + file)
            respond(bus, sender, path, 0, {"uri": GLib.Variant("s", "file://" + file)})
            return False
        late, state["late"] = state["late"], 0
        if late:
            GLib.timeout_add(int(late * 1000), shoot)
        else:
            shoot()
    elif method == "CreateSession":
        session = "/org/freedesktop/portal/desktop/session/%s/%s" % (
            sender[1:].replace(".", "_"), options["session_handle_token"])
        state["session"], state["owner"] = session, sender
        respond(bus, sender, path, 0, {"session_handle": GLib.Variant("s", session)})
    elif method == "BindShortcuts":
        shortcuts = args[1]
        say("bound " + " ".join("%s=%s" % (i, p.get("preferred_trigger", "")) for i, p in shortcuts))
        bound = [(i, {"description": GLib.Variant("s", p.get("description", "")),
                      "trigger_description": GLib.Variant("s", p.get("preferred_trigger", ""))})
                 for i, p in shortcuts]
        respond(bus, sender, path, 0, {"shortcuts": GLib.Variant("a(sa{sv})", bound)})


def on_get_property(_bus, _sender, _path, _interface, _name):
    return GLib.Variant("u", 1)


def on_command(channel, _condition, bus):
    line = channel.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if words[:1] == ["refuse"]:
        state["refuse"] = True
    elif words[:1] == ["late"]:
        state["late"] = float(words[1])
    elif words[:1] == ["activate"] and state["session"]:
        bus.emit_signal(state["owner"], "/org/freedesktop/portal/desktop",
                        "org.freedesktop.portal.GlobalShortcuts", "Activated",
                        GLib.Variant("(osta{sv})", (state["session"], words[1], 0, {})))
    return True


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
node = Gio.DBusNodeInfo.new_for_xml(XML)
for interface in node.interfaces:
    bus.register_object("/org/freedesktop/portal/desktop", interface, on_call, on_get_property,
                        None)
bus.register_object("/org/kde/KWin/ScreenShot2", Gio.DBusNodeInfo.new_for_xml(KWIN_XML).interfaces[0],
                    on_kwin_call, on_get_property, None)
loop = GLib.MainLoop()


def on_name(*_):
    say("ready")


Gio.bus_own_name_on_connection(bus, "org.kde.KWin", Gio.BusNameOwnerFlags.NONE, None, None)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop",
                               Gio.BusNameOwnerFlags.NONE, on_name, lambda *_: loop.quit())
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP,
                  on_command, bus)
loop.run()
