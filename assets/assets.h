#pragma once
// The program's sounds and pictures, compiled into the executable.
#include <cstdint>
#include <span>
#include <string_view>

namespace lumora::assets {

// The bytes of the embedded file with this file name (e.g. "shutter1.wav"), or an empty span.
std::span<const std::uint8_t> find(std::string_view fileName);

}  // namespace lumora::assets
