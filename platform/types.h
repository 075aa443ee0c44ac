#pragma once
#include <cstdint>
#include <vector>

namespace lumora::platform {

// An X window id; 0 names no window (for a capture: the whole primary screen).
using WindowHandle = std::uint64_t;

using Bytes = std::vector<std::uint8_t>;

}  // namespace lumora::platform
