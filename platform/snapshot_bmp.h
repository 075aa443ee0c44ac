#pragma once
// The in-memory BMP form of a snapshot: output-size rules and packing 32-bit pixels into
// 24-bit bottom-up rows. Kept apart from the X11 grab so both can be measured and tested alone.
#include <cstdint>
#include <optional>

#include "platform/types.h"

namespace lumora::platform::snapshot {

inline constexpr std::size_t kBmpHeaderSize = 54;

// Bytes per 24-bit row, padded to a multiple of 4.
constexpr std::uint64_t bmpStride(std::uint64_t width) {
    return ((24 * width + 31) & ~31ull) / 8;
}

// One requested dimension against the grabbed one: 0 keeps it, n > 0 is n pixels, -n is n
// percent (at least 10) rounded to nearest, halves away from zero. nullopt when the result is
// 0 or less.
std::optional<int> outputDimension(int requested, int grabbed);

// Fills a whole BMP file image from `height` rows of 0x??RRGGBB pixels (the top row first,
// `rowPitch` bytes apart). Empty when the image would not fit the format's 32-bit sizes or
// memory runs out.
Bytes packBmp(const std::uint8_t* pixels, std::size_t rowPitch, int width, int height);

// Every capture allocates and frees a few screen-sized buffers (the image, libjpeg's
// coefficient store). By default glibc hands such blocks back to the kernel on free, so the
// next capture takes a page fault per 4 KiB again: about 3000 faults and 6 ms of CPU per
// 1080p JPG capture here. Called once by the capture operations, this keeps blocks up to 32 MiB
// in the heap for reuse, and keeps up to 64 MiB of free heap before trimming it.
void keepCaptureBuffersResident();

}  // namespace lumora::platform::snapshot
