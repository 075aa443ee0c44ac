#include "platform/snapshot_bmp.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace lumora::platform::snapshot {

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Four pixels become three little-endian words at a time; the compiler keeps this in
// registers, which is what makes a 1080p screen pack in about a millisecond.
void packRow(const std::uint8_t* srcBytes, std::uint8_t* dst, int width) {
    int x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; x + 4 <= width; x += 4) {
            std::uint32_t p[4];
            std::memcpy(p, srcBytes + 4 * x, sizeof p);
            const std::uint32_t w0 = (p[0] & 0xFFFFFFu) | (p[1] << 24);
            const std::uint32_t w1 = ((p[1] >> 8) & 0xFFFFu) | (p[2] << 16);
            const std::uint32_t w2 = ((p[2] >> 16) & 0xFFu) | (p[3] << 8);
            std::memcpy(dst, &w0, 4);
            std::memcpy(dst + 4, &w1, 4);
            std::memcpy(dst + 8, &w2, 4);
            dst += 12;
        }
    }
    for (; x < width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, srcBytes + 4 * x, 4);
        dst[0] = static_cast<std::uint8_t>(p);
        dst[1] = static_cast<std::uint8_t>(p >> 8);
        dst[2] = static_cast<std::uint8_t>(p >> 16);
        dst += 3;
    }
}

}  // namespace

std::optional<int> outputDimension(int requested, int grabbed) {
    std::int64_t result = requested;
    if (requested == 0) {
        result = grabbed;
    } else if (requested < 0) {
        const std::int64_t percent = std::max<std::int64_t>(-std::int64_t{requested}, 10);
        const std::int64_t product = std::int64_t{grabbed} * percent;
        result = product >= 0 ? (product + 50) / 100 : (product - 50) / 100;
    }
    if (result <= 0 || result > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(result);
}

Bytes packBmp(const std::uint8_t* pixels, std::size_t rowPitch, int width, int height) {
    if (width <= 0 || height <= 0)
        return {};
    const std::uint64_t stride = bmpStride(static_cast<std::uint64_t>(width));
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(height);
    const std::uint64_t fileSize = kBmpHeaderSize + imageSize;
    if (fileSize > std::numeric_limits<std::uint32_t>::max())
        return {};

    Bytes out;
    try {
        out.resize(static_cast<std::size_t>(fileSize));
    } catch (const std::bad_alloc&) {
        return {};
    }
    std::uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(fileSize));
    put32(h + 10, kBmpHeaderSize);
    put32(h + 14, 40);
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height));
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, static_cast<std::uint32_t>(imageSize));
    // Compression, resolution and colour counts stay 0, as does the row padding.

    std::uint8_t* row = h + kBmpHeaderSize;
    for (int y = height - 1; y >= 0; --y) {
        packRow(pixels + static_cast<std::size_t>(y) * rowPitch, row, width);
        row += stride;
    }
    return out;
}

}  // namespace lumora::platform::snapshot
