#include "platform/snapshot_bmp.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMORA_HAVE_SSSE3_PACK 1
#endif

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
// registers. Also finishes the rows the vector kernel leaves over.
void packRowScalar(const std::uint8_t* srcBytes, std::uint8_t* dst, int width) {
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

#ifdef LUMORA_HAVE_SSSE3_PACK
// Sixteen pixels per step: one byte shuffle drops the fourth byte of four pixels, and three
// shifted ORs join four such 12-byte pieces into three full stores.
__attribute__((target("ssse3"))) void packRowSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                   int width) {
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const auto* in = reinterpret_cast<const __m128i*>(src + 4 * x);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), drop);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), drop);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), drop);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), drop);
        auto* out = reinterpret_cast<__m128i*>(dst);
        _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
        dst += 48;
    }
    packRowScalar(src + 4 * x, dst, width - x);
}
#endif

using PackRow = void (*)(const std::uint8_t*, std::uint8_t*, int);

PackRow choosePackRow() {
#ifdef LUMORA_HAVE_SSSE3_PACK
    if (__builtin_cpu_supports("ssse3"))
        return packRowSsse3;
#endif
    return packRowScalar;
}

}  // namespace

std::optional<BmpRows> viewBmp(std::span<const std::uint8_t> image) {
    const auto get = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | image[at + static_cast<std::size_t>(i)];
        return v;
    };
    if (image.size() < kBmpHeaderSize || image[0] != 'B' || image[1] != 'M')
        return std::nullopt;
    const std::uint64_t offBits = get(10, 4);
    const std::uint32_t infoSize = get(14, 4);
    const std::int64_t width = static_cast<std::int32_t>(get(18, 4));
    std::int64_t height = static_cast<std::int32_t>(get(22, 4));
    if (infoSize < 40 || get(28, 2) != 24 || get(30, 4) != 0)
        return std::nullopt;
    if (width < 1 || height == 0 || width > std::numeric_limits<int>::max() ||
        height < -std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max() ||
        offBits < 14 + std::uint64_t{infoSize})
        return std::nullopt;
    BmpRows view;
    view.bottomUp = height > 0;
    if (height < 0)
        height = -height;
    view.stride = bmpStride(static_cast<std::uint64_t>(width));
    if (offBits > image.size() ||
        view.stride * static_cast<std::uint64_t>(height) > image.size() - offBits)
        return std::nullopt;
    view.rows = image.data() + offBits;
    view.width = static_cast<int>(width);
    view.height = static_cast<int>(height);
    return view;
}

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

    static const PackRow packRow = choosePackRow();
    std::uint8_t* row = h + kBmpHeaderSize;
    for (int y = height - 1; y >= 0; --y) {
        packRow(pixels + static_cast<std::size_t>(y) * rowPitch, row, width);
        row += stride;
    }
    return out;
}

}  // namespace lumora::platform::snapshot
