#pragma once
// Reading the four-number frame properties window managers and toolkits put on windows:
// _NET_FRAME_EXTENTS (the manager's frame around the client) and _GTK_FRAME_EXTENTS (the
// invisible shadow a client that draws its own title bar keeps inside its window).
#include <X11/Xlib.h>

#include <optional>

namespace lumora::platform::x11 {

struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

// Left, right, top, bottom as the property holds them; nothing when it is absent, not four
// CARDINALs, or holds a value no frame has (negative or larger than any screen).
std::optional<Extents> readExtents(Display* display, Window window, Atom property);

}  // namespace lumora::platform::x11
