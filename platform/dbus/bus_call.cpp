#include "platform/bus_call.h"

#include <dbus/dbus.h>

namespace lumora::platform::dbus {

namespace {

// libdbus's error record, freed on every path.
struct Error {
    DBusError error;
    Error() { dbus_error_init(&error); }
    ~Error() { dbus_error_free(&error); }
    bool set() const { return dbus_error_is_set(&error); }
};

}  // namespace

CallAnswer callForString(const char* service, const char* path, const char* interface,
                         const char* method, int timeoutMs) {
    Error error;
    // A private connection: closing it at the end leaves nothing behind in the library.
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error.error);
    if (!bus)
        return {CallAnswer::NoBus, {}, error.set() ? error.error.message : "no session bus"};
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    CallAnswer answer;
    DBusMessage* call = dbus_message_new_method_call(service, path, interface, method);
    if (!call) {
        answer = {CallAnswer::Error, "org.freedesktop.DBus.Error.NoMemory", "out of memory"};
    } else {
        dbus_message_set_auto_start(call, FALSE);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus, call, timeoutMs, &error.error);
        dbus_message_unref(call);
        if (!reply) {
            answer = {CallAnswer::Error, error.set() ? error.error.name : "",
                      error.set() && error.error.message ? error.error.message : ""};
        } else {
            const char* text = nullptr;
            if (dbus_message_get_args(reply, &error.error, DBUS_TYPE_STRING, &text,
                                      DBUS_TYPE_INVALID))
                answer = {CallAnswer::Reply, {}, text};
            else
                answer = {CallAnswer::Error, "org.freedesktop.DBus.Error.InvalidArgs",
                          "the answer holds no text"};
            dbus_message_unref(reply);
        }
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return answer;
}

}  // namespace lumora::platform::dbus
