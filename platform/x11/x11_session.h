#pragma once
// The X11 session: the screen through MIT-SHM on the root window, keys through XInput2 raw
// events, the active window from the window manager's _NET_ACTIVE_WINDOW.
#include <cstdint>
#include <memory>

#include "platform/desktop_session.h"

namespace lumora::platform::x11 {

std::unique_ptr<DesktopSession> makeSession();

// The operations behind the session, each on a connection of its own.
Bytes takeSnapshot(WindowHandle window, int width, int height);
std::int32_t asyncKeyState(int virtualKey);
WindowHandle foregroundWindow();
bool watchCaptureKeys(DesktopSession::KeyChanged changed);

}  // namespace lumora::platform::x11
