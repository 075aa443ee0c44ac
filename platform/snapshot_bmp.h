#pragma once
// The in-memory BMP form of a snapshot: output-size rules and packing 32-bit pixels into
// 24-bit bottom-up rows. Kept apart from the X11 grab so both can be measured and tested alone.
#include <cstdint>
#include <optional>
#include <span>

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

// The rows of a 24-bit BMP file image in memory (the 40-byte header or a longer one, no
// compression), as packBmp makes it. `rows` points at the first stored row; `bottomUp` says
// whether that is the picture's bottom row.
struct BmpRows {
    const std::uint8_t* rows = nullptr;
    std::size_t stride = 0;
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    // Picture row y (0 at the top).
    const std::uint8_t* row(int y) const {
        return rows + static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * stride;
    }
};
// nullopt for anything else, and for an image shorter than its header says.
std::optional<BmpRows> viewBmp(std::span<const std::uint8_t> image);

// Every capture allocates and frees a few screen-sized buffers (the image, libjpeg's
// coefficient store). By default glibc hands such blocks back to the kernel on free, so the
// next capture takes a page fault per 4 KiB again: about 3000 faults and 6 ms of CPU per
// 1080p JPG capture here. Called once by the capture operations, this keeps blocks up to 32 MiB
// in the heap for reuse, and keeps up to 64 MiB of free heap before trimming it.
void keepCaptureBuffersResident();

}  // namespace lumora::platform::snapshot
