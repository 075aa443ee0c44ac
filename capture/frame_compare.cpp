#include "capture/frame_compare.h"

#include <algorithm>
#include <cstring>

namespace lumora::capture {

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Pixels compared per block before looking at single pixels: 48 bytes, six 64-bit words. A
// block that differs somewhere is rare, so most of the work is plain word compares.
constexpr int kBlockPixels = 16;

std::uint64_t word(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

bool blockDiffers(const std::uint8_t* a, const std::uint8_t* b) {
    std::uint64_t diff = 0;
    for (int i = 0; i < 3 * kBlockPixels; i += 8)
        diff |= word(a + i) ^ word(b + i);
    return diff != 0;
}

// Counts the pixels of [from, to) that differ between two rows, stopping past `limit`.
std::int64_t countChanged(const std::uint8_t* a, const std::uint8_t* b, int from, int to,
                          std::int64_t limit) {
    std::int64_t changed = 0;
    for (int x = from; x < to && changed <= limit; x += kBlockPixels) {
        const int end = std::min(to, x + kBlockPixels);
        const std::size_t offset = 3 * static_cast<std::size_t>(x);
        if (end - x == kBlockPixels
                ? !blockDiffers(a + offset, b + offset)
                : std::memcmp(a + offset, b + offset, 3 * static_cast<std::size_t>(end - x)) == 0)
            continue;
        for (int p = x; p < end; ++p) {
            const std::size_t at = 3 * static_cast<std::size_t>(p);
            if (a[at] != b[at] || a[at + 1] != b[at + 1] || a[at + 2] != b[at + 2])
                ++changed;
        }
    }
    return changed;
}

}  // namespace

std::optional<BmpPixels> bmpPixels(const platform::Bytes& image) {
    if (image.size() < 54 || image[0] != 'B' || image[1] != 'M')
        return std::nullopt;
    const std::uint32_t offset = read32(&image[10]);
    const std::uint32_t headerSize = read32(&image[14]);
    const auto width = static_cast<std::int32_t>(read32(&image[18]));
    const auto height = static_cast<std::int32_t>(read32(&image[22]));
    if (headerSize < 40 || read16(&image[28]) != 24 || read32(&image[30]) != 0 || width <= 0 ||
        height <= 0)
        return std::nullopt;
    const std::size_t stride = ((24 * static_cast<std::size_t>(width) + 31) & ~std::size_t{31}) / 8;
    if (offset > image.size() ||
        (image.size() - offset) / stride < static_cast<std::size_t>(height))
        return std::nullopt;
    return BmpPixels{image.data() + offset, width, height, stride};
}

std::vector<ScreenRect> placesInPicture(std::span<const ScreenRect> onScreen, ScreenRect area,
                                        int pictureWidth, int pictureHeight) {
    std::vector<ScreenRect> places;
    if (area.width <= 0 || area.height <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return places;
    // Scaled outwards: a pixel the window touches at all is left out.
    auto map = [](std::int64_t v, std::int64_t origin, std::int64_t length, std::int64_t pixels,
                  bool up) {
        const std::int64_t scaled = (v - origin) * pixels;
        std::int64_t mapped = scaled / length;
        if (up && scaled % length > 0)
            ++mapped;
        if (!up && scaled % length < 0)
            --mapped;
        return std::clamp<std::int64_t>(mapped, 0, pixels);
    };
    auto mapX = [&](std::int64_t x, bool up) {
        return map(x, area.x, area.width, pictureWidth, up);
    };
    auto mapY = [&](std::int64_t y, bool up) {
        return map(y, area.y, area.height, pictureHeight, up);
    };
    for (const ScreenRect& r : onScreen) {
        if (r.width <= 0 || r.height <= 0)
            continue;
        const auto x0 = mapX(r.x, false), x1 = mapX(std::int64_t{r.x} + r.width, true);
        const auto y0 = mapY(r.y, false), y1 = mapY(std::int64_t{r.y} + r.height, true);
        if (x1 > x0 && y1 > y0)
            places.push_back({static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                              static_cast<int>(y1 - y0)});
    }
    return places;
}

bool samePicture(const platform::Bytes& a, const platform::Bytes& b,
                 std::span<const ScreenRect> ignored) {
    const auto pa = bmpPixels(a);
    const auto pb = bmpPixels(b);
    if (!pa || !pb || pa->width != pb->width || pa->height != pb->height)
        return false;
    const int width = pa->width, height = pa->height;
    const std::int64_t limit =
        static_cast<std::int64_t>(width) * height * kChangedPixelsPerThousand / 1000;
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    std::int64_t changed = 0;
    std::vector<std::pair<int, int>> skip;  // the ignored spans of one row, by start
    for (int y = 0; y < height; ++y) {
        // BMP rows run bottom-up; places count from the top.
        const std::size_t row = static_cast<std::size_t>(height - 1 - y);
        const std::uint8_t* ra = pa->rows + row * pa->stride;
        const std::uint8_t* rb = pb->rows + row * pb->stride;
        if (std::memcmp(ra, rb, rowBytes) == 0)
            continue;
        skip.clear();
        for (const ScreenRect& r : ignored) {
            if (y >= r.y && y < r.y + r.height)
                skip.emplace_back(std::max(0, r.x), std::min(width, r.x + r.width));
        }
        std::sort(skip.begin(), skip.end());
        int x = 0;
        for (const auto& [from, to] : skip) {
            if (from > x)
                changed += countChanged(ra, rb, x, from, limit - changed);
            x = std::max(x, to);
        }
        if (x < width)
            changed += countChanged(ra, rb, x, width, limit - changed);
        if (changed > limit)
            return false;
    }
    return true;
}

bool UnchangedFrames::keep(int schedule, Frame frame, Clock::time_point now) {
    auto& last = last_[schedule == 0 ? 0 : 1];
    bool save = !last || !frame.picture || !last->frame.picture || now < last->at ||
                now - last->at >= kKeepAtLeastEvery;
    if (!save) {
        // The program's windows may have moved between the two: neither place counts.
        std::vector<ScreenRect> ignored = frame.ignored;
        ignored.insert(ignored.end(), last->frame.ignored.begin(), last->frame.ignored.end());
        save = !samePicture(*frame.picture, *last->frame.picture, ignored);
    }
    if (save)
        last = Last{std::move(frame), now};
    return save;
}

void UnchangedFrames::forget(int schedule, const platform::Bytes* picture) {
    auto& last = last_[schedule == 0 ? 0 : 1];
    if (last && last->frame.picture.get() == picture)
        last.reset();
}

}  // namespace lumora::capture
