#pragma once
// The frame a window manager will put around a window of ours, asked for before the window is
// mapped, so that it can be given its outer size from the start.
#include <optional>

#include "platform/types.h"

namespace lumora::platform {

struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// Whether a window manager is running that answers the question below; lets a caller skip
// whatever it would prepare for asking.
bool canRequestFrameExtents();

// Asks the running window manager which frame it will give `window`, a top-level window of this
// program that is not mapped yet, waiting at most `timeoutMs` for the answer. The frame depends
// on the window's kind and decorations, which the window's properties tell the manager. Nothing
// when there is no X display, no such window, no window manager that offers the request, or no
// answer in time. Blocks the calling thread while it waits; a window manager that offers the
// request answers within milliseconds, but one on a loaded machine (a build beside a start-up)
// can take a few hundred, and a missed answer shows as a window that visibly shrinks.
std::optional<FrameExtents> requestFrameExtents(WindowHandle window, int timeoutMs = 1000);

}  // namespace lumora::platform
