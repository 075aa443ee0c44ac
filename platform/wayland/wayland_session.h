#pragma once
// The Wayland session: the program's windows live on XWayland, but the compositor keeps the
// screen and the keyboard to itself. Pictures come from the Screenshot portal; the focused
// window from the compositor (sway's IPC, KWin's ScreenShot2); keys from the GlobalShortcuts
// portal where the desktop offers it.
#include <memory>
#include <string>

#include "platform/desktop_session.h"

namespace lumora::platform::wayland {

// Which compositor the session runs under, from XDG_CURRENT_DESKTOP and SWAYSOCK.
enum class Desktop { Sway, Kde, Gnome, Other };
Desktop desktopOfEnvironment();

// A Wayland session by WAYLAND_DISPLAY or XDG_SESSION_TYPE.
bool isWaylandEnvironment();

// The foreground window here has no X id: handles with this tag mean "the focused window", the
// low 32 bits naming sway's node when known (0: whichever window has the focus at capture).
inline constexpr WindowHandle kFocusedWindowTag = 0xF0C5ull << 48;
inline bool isFocusedWindowHandle(WindowHandle window) {
    return (window & (0xFFFFull << 48)) == kFocusedWindowTag;
}

std::unique_ptr<DesktopSession> makeSession();

}  // namespace lumora::platform::wayland
