// The cost of deciding whether a scheduled 1080p frame is unchanged: two photo-like pictures
// compared as the pipeline compares them on the GUI thread, before anything is encoded.
// Prints one line per case: name, median ms, worst ms (of REPETITIONS runs, default 51).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "capture/frame_compare.h"
#include "platform/snapshot_bmp.h"

using lumora::capture::samePicture;
using lumora::capture::ScreenRect;
using lumora::platform::Bytes;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A smooth picture with noise, so that no two rows are alike and memcmp cannot stop early.
std::vector<std::uint32_t> photo() {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    std::mt19937 random(7);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const unsigned noise = random() & 15;
            const unsigned r = (x * 255 / kWidth + noise) & 255, g = (y * 255 / kHeight) & 255,
                           b = ((x + y) / 8 + noise) & 255;
            pixels[static_cast<std::size_t>(y) * kWidth + x] = r << 16 | g << 8 | b;
        }
    }
    return pixels;
}

Bytes pack(const std::vector<std::uint32_t>& pixels) {
    return lumora::platform::snapshot::packBmp(reinterpret_cast<const std::uint8_t*>(pixels.data()),
                                               4 * static_cast<std::size_t>(kWidth), kWidth,
                                               kHeight);
}

void measure(const char* name, const Bytes& a, const Bytes& b,
             const std::vector<ScreenRect>& ignored, bool expected, int repetitions) {
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const bool same = samePicture(a, b, ignored);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (same != expected) {
            std::fprintf(stderr, "%s: compared %s, expected %s\n", name, same ? "same" : "changed",
                         expected ? "same" : "changed");
            std::exit(1);
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s %.3f %.3f\n", name, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 51;
    const auto base = photo();
    const Bytes frame = pack(base);
    const Bytes same = pack(base);

    // A one-pixel column moved: every row differs somewhere, 1080 pixels in all (under the
    // 2073 a 1080p frame may have): the slowest frame that still counts as unchanged.
    auto column = base;
    for (int y = 0; y < kHeight; ++y)
        column[static_cast<std::size_t>(y) * kWidth + 960] ^= 0x00FFFFFF;
    // The program's window (480 x 360) changed completely and left out, a clock of 300 pixels
    // changed elsewhere.
    auto window = base;
    for (int y = 600; y < 960; ++y)
        for (int x = 1300; x < 1780; ++x)
            window[static_cast<std::size_t>(y) * kWidth + x] ^= 0x00808080;
    for (int x = 1800; x < 1900; ++x)
        for (int y = 1060; y < 1063; ++y)
            window[static_cast<std::size_t>(y) * kWidth + x] ^= 0x00FFFFFF;
    // A changed frame whose change lies in its bottom rows: found only at the end.
    auto late = base;
    for (int x = 0; x < kWidth; ++x)
        for (int y = kHeight - 10; y < kHeight; ++y)
            late[static_cast<std::size_t>(y) * kWidth + x] ^= 0x00FFFFFF;

    const std::vector<ScreenRect> programWindows{{1300, 600, 480, 360}, {20, 20, 300, 40}};
    measure("equal", frame, same, programWindows, true, repetitions);
    measure("column", frame, pack(column), programWindows, true, repetitions);
    measure("window", frame, pack(window), programWindows, true, repetitions);
    measure("changed_late", pack(late), frame, programWindows, false, repetitions);
    return 0;
}
