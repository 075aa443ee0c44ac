#include "platform/desktop_session.h"

#include <mutex>

#include "platform/keys.h"
#include "platform/snapshot.h"
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
    return x11::makeSession();
}

}  // namespace

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
