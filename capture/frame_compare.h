#pragma once
// Whether a scheduled frame shows anything new: the pictures a schedule saved last, compared
// pixel by pixel before anything is encoded, so a frame that is skipped costs no encoding and
// uses no running number.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/types.h"

namespace lumora::capture {

using platform::ScreenRect;

// Pixels of a 24-bit BMP file image as the snapshot makes it: bottom-up rows, padded to 4 bytes.
struct BmpPixels {
    const std::uint8_t* rows = nullptr;  // the bottom row first
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
};
// Nothing for anything but a complete uncompressed 24-bit BMP image.
std::optional<BmpPixels> bmpPixels(const platform::Bytes& image);

// The places of `onScreen` (screen rectangles, such as the program's own windows) in a picture
// of `pictureWidth` x `pictureHeight` pixels that shows the screen rectangle `area` (scaled when
// the sizes differ), cut to the picture; rectangles outside it are left out. Row 0 is the top.
std::vector<ScreenRect> placesInPicture(std::span<const ScreenRect> onScreen, ScreenRect area,
                                        int pictureWidth, int pictureHeight);

// At most this many pixels in a thousand may differ for two pictures to count as one: a caret
// that blinks, a clock that ticks.
inline constexpr int kChangedPixelsPerThousand = 1;

// Whether two BMP images show the same picture: the same size, and at most one pixel in a
// thousand (of the whole picture) differs outside `ignored` (picture places, row 0 the top).
// Stops as soon as the answer is known; about a millisecond for two equal 1080p pictures.
bool samePicture(const platform::Bytes& a, const platform::Bytes& b,
                 std::span<const ScreenRect> ignored);

// The last frame each schedule saved, and the rule that decides whether the next is saved.
// GUI thread only.
class UnchangedFrames {
public:
    // Keeps a frame at least this often even when nothing changed, so a gap in the files means
    // that no capture ran.
    static constexpr std::chrono::hours kKeepAtLeastEvery{1};
    using Clock = std::chrono::system_clock;

    struct Frame {
        std::shared_ptr<const platform::Bytes> picture;
        std::vector<ScreenRect> ignored;  // picture places of the program's own windows
    };

    // Whether the frame of `schedule` (0 or 1: each schedule compares with its own last frame)
    // is to be saved: it differs from the last one saved, or that one is an hour old (or from
    // the future: the clock was set back). A frame to be saved becomes the last one.
    bool keep(int schedule, Frame frame, Clock::time_point now);

    // The saved frame `picture` of `schedule` was lost after all: the next frame is saved.
    void forget(int schedule, const platform::Bytes* picture);

private:
    struct Last {
        Frame frame;
        Clock::time_point at;
    };
    std::optional<Last> last_[2];
};

}  // namespace lumora::capture
