#pragma once
#include <cstdint>
#include <vector>

namespace lumora::platform {

// An X window id; 0 names no window (for a capture: the whole primary screen).
using WindowHandle = std::uint64_t;

using Bytes = std::vector<std::uint8_t>;

// A rectangle on the screen (or in a picture), in pixels; right and bottom exclusive.
struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

}  // namespace lumora::platform
