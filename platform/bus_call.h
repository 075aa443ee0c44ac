#pragma once
// One method call on the session bus, for a process that only asks and ends (`lumora --capture`
// beside a running instance): no application object and no Qt library are needed to make it,
// so such a process starts in a few milliseconds. Made with libdbus (platform/dbus/).
#include <string>

namespace lumora::platform::dbus {

struct CallAnswer {
    enum Status {
        Reply,  // `text` holds the string the method returned
        Error,  // `errorName` and `text` hold the error's name and message
        NoBus,  // the session bus cannot be reached; `text` says why
    } status = NoBus;
    std::string errorName;
    std::string text;
};

// Calls `method` (no arguments, a string back) of `service` without starting the service when
// nobody owns its name, and waits at most `timeoutMs` for the answer.
CallAnswer callForString(const char* service, const char* path, const char* interface,
                         const char* method, int timeoutMs);

}  // namespace lumora::platform::dbus
