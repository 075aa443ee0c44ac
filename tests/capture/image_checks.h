#pragma once
// Reading back what a capture wrote: the BMP header fields and the JPEG frame and quantisation
// tables, so tests can tell a q75 4:2:0 baseline JPEG from any other decodable picture.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumora::test {

struct BmpInfo {
    int width = 0;
    int height = 0;  // positive: bottom-up rows
    int bitsPerPixel = 0;
    std::uint32_t fileSize = 0;  // as the header says
};

inline std::optional<BmpInfo> readBmpInfo(const std::vector<std::uint8_t>& b) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return std::nullopt;
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                          static_cast<std::uint32_t>(b[at + 3]) << 24);
    };
    BmpInfo info;
    info.fileSize = u32(2);
    info.width = static_cast<std::int32_t>(u32(18));
    info.height = static_cast<std::int32_t>(u32(22));
    info.bitsPerPixel = b[28] | b[29] << 8;
    return info;
}

struct JpegInfo {
    bool baseline = false;  // SOF0
    bool progressive = false;
    int width = 0;
    int height = 0;
    int components = 0;
    // Horizontal and vertical sampling factors of each component.
    std::vector<std::pair<int, int>> sampling;
    // Quantisation tables 0 and 1 in zig-zag order, as stored.
    std::array<std::optional<std::array<int, 64>>, 4> quant;
    bool jfif = false;
    bool endsWithEoi = false;
};

inline std::optional<JpegInfo> readJpegInfo(const std::vector<std::uint8_t>& b) {
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return std::nullopt;
    JpegInfo info;
    info.endsWithEoi = b[b.size() - 2] == 0xFF && b[b.size() - 1] == 0xD9;
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF)
            return std::nullopt;
        const int marker = b[at + 1];
        const std::size_t length = static_cast<std::size_t>(b[at + 2] << 8 | b[at + 3]);
        const std::size_t body = at + 4;
        if (length < 2 || at + 2 + length > b.size())
            return std::nullopt;
        const std::size_t end = at + 2 + length;
        if (marker == 0xE0 && length >= 7 && b[body] == 'J' && b[body + 1] == 'F' &&
            b[body + 2] == 'I' && b[body + 3] == 'F')
            info.jfif = true;
        if (marker == 0xC0 || marker == 0xC2) {
            info.baseline = marker == 0xC0;
            info.progressive = marker == 0xC2;
            info.height = b[body + 1] << 8 | b[body + 2];
            info.width = b[body + 3] << 8 | b[body + 4];
            info.components = b[body + 5];
            for (int c = 0; c < info.components; ++c) {
                const int factors = b[body + 6 + c * 3 + 1];
                info.sampling.emplace_back(factors >> 4, factors & 15);
            }
        }
        if (marker == 0xDB) {
            std::size_t p = body;
            while (p < end) {
                const int precision = b[p] >> 4;
                const int id = b[p] & 15;
                ++p;
                std::array<int, 64> table{};
                for (int i = 0; i < 64; ++i) {
                    table[i] = precision ? (b[p] << 8 | b[p + 1]) : b[p];
                    p += precision ? 2 : 1;
                }
                if (id < 4)
                    info.quant[id] = table;
            }
        }
        if (marker == 0xDA)
            return info;  // entropy-coded data follows
        at = end;
    }
    return info;
}

// The example tables of the JPEG standard (Annex K), in natural order, scaled the way libjpeg
// scales them for a quality setting, with baseline limits; returned in zig-zag order as a
// DQT segment stores them.
inline std::array<int, 64> scaledStandardTable(bool chroma, int quality) {
    static constexpr std::array<int, 64> luminance = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static constexpr std::array<int, 64> chrominance = {
        17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
        99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
    static constexpr std::array<int, 64> zigzag = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    const auto& base = chroma ? chrominance : luminance;
    std::array<int, 64> out{};
    for (int i = 0; i < 64; ++i) {
        int q = (base[zigzag[i]] * scale + 50) / 100;
        out[i] = q < 1 ? 1 : q > 255 ? 255 : q;
    }
    return out;
}

}  // namespace lumora::test
