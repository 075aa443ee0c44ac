// The command's side of a capture request on the session bus, through libdbus: the asking
// process loads no Qt (the running instance answers through QtDBus, app/qt/capture_requests.cpp).
#include <string>

#include "app/capture_requests.h"
#include "platform/bus_call.h"

namespace lumora::app {

namespace {

// Long enough for a capture the pipeline finishes later (a portal may ask the user first),
// short enough that a stuck instance does not hold a script forever.
constexpr int kRequestTimeoutMs = 60'000;

}  // namespace

std::string whereRequestsGo() {
    return std::string("on the session bus under ") + kBusName;
}

RequestAnswer requestCapture(CaptureTarget target) {
    // libdbus rather than QtDBus: the asking process needs no application object (and, with
    // the program split, no Qt at all).
    const platform::dbus::CallAnswer answer = platform::dbus::callForString(
        kBusName, kObjectPath, kInterface,
        target == CaptureTarget::Window ? "CaptureWindow" : "CaptureScreen", kRequestTimeoutMs);
    switch (answer.status) {
        case platform::dbus::CallAnswer::Reply:
            return {RequestAnswer::Saved, answer.text};
        case platform::dbus::CallAnswer::NoBus:
            return {RequestAnswer::NoBus, answer.text};
        case platform::dbus::CallAnswer::Error:
            break;
    }
    const std::string& name = answer.errorName;
    if (name == kNotSavedError)
        return {RequestAnswer::NotSaved, answer.text};
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return {RequestAnswer::Gone, answer.text};
    if (name == "org.freedesktop.DBus.Error.Disconnected")
        return {RequestAnswer::NoBus, answer.text};
    if (name == "org.freedesktop.DBus.Error.InvalidArgs")
        return {RequestAnswer::Failed,
                "the running Lumora gave an answer this program cannot read"};
    return {RequestAnswer::Failed, answer.text.empty() ? name : answer.text};
}

}  // namespace lumora::app
