#pragma once
// The X11 session: the screen through MIT-SHM on the root window, keys through XInput2 raw
// events, the active window from the window manager's _NET_ACTIVE_WINDOW.
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/desktop_session.h"

namespace lumora::platform::x11 {

std::unique_ptr<DesktopSession> makeSession();

// The operations behind the session, each on a connection of its own.
Bytes takeSnapshot(WindowHandle window, int width, int height);
std::int32_t asyncKeyState(int virtualKey);
// The root-window rectangle takeSnapshot(window) grabs: the primary screen, or the window's
// frame.
std::optional<ScreenRect> snapshotArea(WindowHandle window);
WindowHandle foregroundWindow();
bool watchCaptureKeys(DesktopSession::KeyChanged changed);

// The root window's size and the primary screen's rectangle in it, as takeSnapshot(0) grabs
// it; nothing without a display. A Wayland session crops the compositor's picture with it.
// The layout is the rectangle around the root and every lit output: XWayland puts an output
// left of or above the primary one at negative coordinates, outside its root window, while the
// compositor's picture of the whole layout starts at that output's corner.
struct ScreenLayout {
    int rootWidth = 0;
    int rootHeight = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int layoutX = 0, layoutY = 0, layoutWidth = 0, layoutHeight = 0;
};
std::optional<ScreenLayout> screenLayout();

}  // namespace lumora::platform::x11
