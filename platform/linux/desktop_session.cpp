#include "platform/desktop_session.h"

#include <cstdlib>
#include <mutex>

#include "platform/keys.h"
#include "platform/snapshot.h"
#include "platform/wayland/wayland_session.h"
#include "platform/x11/x11_session.h"

namespace lumora::platform {

namespace {

std::mutex& sessionMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<DesktopSession>& sessionSlot() {
    static std::unique_ptr<DesktopSession> session;
    return session;
}

std::unique_ptr<DesktopSession> makeSessionForEnvironment() {
    if (wayland::isWaylandEnvironment())
        return wayland::makeSession();
    return x11::makeSession();
}

}  // namespace

void prepareDisplayEnvironment() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    // Without XWayland there is no X display to stay on; Qt then picks what it can.
    if (wayland::isWaylandEnvironment() && (platform == nullptr || *platform == '\0') &&
        display != nullptr && *display != '\0')
        setenv("QT_QPA_PLATFORM", "xcb", 1);
}

DesktopSession& desktopSession() {
    std::lock_guard lock(sessionMutex());
    auto& slot = sessionSlot();
    if (!slot)
        slot = makeSessionForEnvironment();
    return *slot;
}

void setDesktopSession(std::unique_ptr<DesktopSession> session) {
    std::lock_guard lock(sessionMutex());
    sessionSlot() = std::move(session);
}

SnapshotImage takeSnapshot(WindowHandle window, int width, int height) {
    return desktopSession().takeSnapshot(window, width, height);
}

std::int32_t asyncKeyState(int virtualKey) {
    return desktopSession().asyncKeyState(virtualKey);
}

WindowHandle foregroundWindow() {
    return desktopSession().foregroundWindow();
}

}  // namespace lumora::platform
