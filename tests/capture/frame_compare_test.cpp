// When a scheduled frame counts as unchanged: the comparison of two pictures, where the
// program's own windows lie in a picture, and the last frame each schedule keeps. Runs on both
// systems; the floor on free space is checked beside it, being pure arithmetic as well.
#include "capture/frame_compare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/disk_guard.h"
#include "capture/file_naming.h"
#include "platform/clock.h"
#include "platform/snapshot_bmp.h"

using lumora::capture::placesInPicture;
using lumora::capture::samePicture;
using lumora::capture::ScreenRect;
using lumora::capture::UnchangedFrames;
using lumora::platform::Bytes;

namespace {

// A width x height picture of one grey, with the pixels `dots` (x, y from the top) white.
Bytes picture(int width, int height, const std::vector<std::pair<int, int>>& dots = {}) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0x00404040u);
    for (const auto& [x, y] : dots)
        pixels[static_cast<std::size_t>(y) * width + x] = 0x00FFFFFFu;
    return lumora::platform::snapshot::packBmp(reinterpret_cast<const std::uint8_t*>(pixels.data()),
                                               4 * static_cast<std::size_t>(width), width, height);
}

std::vector<std::pair<int, int>> dots(int count, int y = 0) {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < count; ++i)
        out.emplace_back(i, y);
    return out;
}

bool operator==(const ScreenRect& a, const ScreenRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// 100 x 100 pixels: ten may differ. Rows are stored bottom-up, places count from the top, so a
// place at the top leaves out the changes at the top and no others.
TEST(SamePicture, AtMostOnePixelInAThousandDiffersOutsideTheProgramsWindows) {
    const Bytes base = picture(100, 100);
    EXPECT_TRUE(samePicture(base, base, {}));
    EXPECT_TRUE(samePicture(base, picture(100, 100, dots(10, 99)), {}));
    EXPECT_FALSE(samePicture(base, picture(100, 100, dots(11, 99)), {}));
    auto twenty = dots(10, 0);
    for (const auto& dot : dots(10, 60))
        twenty.push_back(dot);
    const std::vector<ScreenRect> top{{0, 0, 100, 1}}, bottom{{0, 99, 100, 1}};
    EXPECT_FALSE(samePicture(base, picture(100, 100, twenty), {}));
    EXPECT_TRUE(samePicture(base, picture(100, 100, twenty), top));
    EXPECT_FALSE(samePicture(base, picture(100, 100, twenty), bottom));
    // Places reaching past the picture, or overlapping, change nothing else.
    const std::vector<ScreenRect> wide{{-50, -5, 400, 6}, {3, 0, 4, 1}};
    EXPECT_TRUE(samePicture(base, picture(100, 100, twenty), wide));
    // Another size, or no BMP image at all, is never the same.
    EXPECT_FALSE(samePicture(base, picture(100, 99), {}));
    EXPECT_FALSE(samePicture(base, Bytes(base.begin(), base.begin() + 60), {}));
    EXPECT_FALSE(samePicture(Bytes{}, Bytes{}, {}));
}

TEST(PlacesInPicture, ScreenRectanglesAreMovedScaledOutwardsAndCut) {
    const std::vector<ScreenRect> windows{
        {150, 75, 10, 10},   // inside
        {80, 40, 40, 20},    // over the top-left corner
        {400, 300, 10, 10},  // beside the area
        {0, 0, 0, 5},        // empty
    };
    // The area at (100, 50), 200 x 100 on the screen, shown at half its size.
    const auto places = placesInPicture(windows, {100, 50, 200, 100}, 100, 50);
    ASSERT_EQ(places.size(), 2u);
    EXPECT_TRUE((places[0] == ScreenRect{25, 12, 5, 6}));
    EXPECT_TRUE((places[1] == ScreenRect{0, 0, 10, 5}));
    EXPECT_TRUE(placesInPicture(windows, {0, 0, 0, 0}, 100, 50).empty());
}

TEST(UnchangedFrames, EachScheduleKeepsItsLastFrameAndOneAnHour) {
    using namespace std::chrono;
    UnchangedFrames frames;
    auto frame = [](Bytes bytes) {
        return UnchangedFrames::Frame{std::make_shared<const Bytes>(std::move(bytes)), {}};
    };
    const UnchangedFrames::Clock::time_point t0{hours(500000)};
    EXPECT_TRUE(frames.keep(0, frame(picture(40, 30)), t0));
    EXPECT_FALSE(frames.keep(0, frame(picture(40, 30)), t0 + seconds(1)));
    // The other schedule compares with its own last frame.
    EXPECT_TRUE(frames.keep(1, frame(picture(40, 30)), t0 + seconds(1)));
    EXPECT_FALSE(frames.keep(0, frame(picture(40, 30)), t0 + minutes(59)));
    EXPECT_TRUE(frames.keep(0, frame(picture(40, 30)), t0 + minutes(60)));
    EXPECT_FALSE(frames.keep(0, frame(picture(40, 30)), t0 + minutes(61)));
    // A changed frame, then the clock set back.
    EXPECT_TRUE(frames.keep(0, frame(picture(40, 30, dots(5))), t0 + minutes(62)));
    EXPECT_TRUE(frames.keep(0, frame(picture(40, 30, dots(5))), t0));
    // The program's window over the change, in the new frame or the last one, hides it.
    auto changes = dots(5);
    for (const auto& dot : dots(5, 29))
        changes.push_back(dot);
    auto covered = frame(picture(40, 30, changes));
    covered.ignored = {{0, 29, 40, 1}};
    EXPECT_FALSE(frames.keep(0, covered, t0 + seconds(1)));
    const UnchangedFrames::Frame kept = frame(picture(40, 30, dots(20, 1)));
    EXPECT_TRUE(frames.keep(0, kept, t0 + seconds(2)));
    EXPECT_FALSE(frames.keep(0, frame(picture(40, 30, dots(20, 1))), t0 + seconds(3)));
    // A kept frame lost on its way to the disk is no longer the one to compare with.
    frames.forget(0, kept.picture.get());
    EXPECT_TRUE(frames.keep(0, frame(picture(40, 30, dots(20, 1))), t0 + seconds(4)));
}

TEST(UnattendedRules, DayFolderNameAndFreeSpaceFloor) {
    using lumora::platform::makeDateTime;
    EXPECT_EQ(lumora::capture::dayFolderName(makeDateTime(2026, 12, 8, 23, 59, 59)), "2026-12-08");
    EXPECT_EQ(lumora::capture::dayFolderName(makeDateTime(987, 1, 2, 0, 0, 0)), "0987-01-02");
    constexpr std::uint64_t kGiB = 1ull << 30;
    EXPECT_EQ(lumora::capture::freeSpaceFloor(64ull << 20), (64ull << 20) / 10);
    EXPECT_EQ(lumora::capture::freeSpaceFloor(500 * kGiB), kGiB);
    EXPECT_EQ(lumora::capture::spaceText(3ull << 20), "3 MB");
    EXPECT_EQ(lumora::capture::spaceText(3 * kGiB / 2), "1.5 GB");
}

}  // namespace
