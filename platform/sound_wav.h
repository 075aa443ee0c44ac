#pragma once
// Reading the parts of a RIFF/WAVE image that the sound players need, without copying and
// without ever looking past the end of the image, however its chunk lengths lie.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace lumora::platform::wav {

enum class SampleFormat {
    U8,     // 8-bit PCM, unsigned, silence at 128
    S16LE,  // 16-bit PCM, signed little-endian
};

struct Clip {
    SampleFormat format;
    unsigned channels;
    unsigned rate;
    std::size_t frameBytes;
    // Whole frames only; a trailing partial frame is left out. Points into the parsed image.
    std::span<const std::uint8_t> samples;
    // The "data" chunk claimed more bytes than the image holds; `samples` is what is there.
    bool truncated;
};

// True when the image begins with "RIFF" and has "WAVE" at offset 8.
bool isRiffWave(std::span<const std::uint8_t> image);

// The format and samples of a playable image, or nothing when the image is not RIFF/WAVE, is
// 35 bytes or shorter, has no "fmt " chunk or no sample in its "data" chunk, or holds a format
// other than 8- or 16-bit PCM with at least one channel and a non-zero rate.
//
// The chunk walk starts at offset 12 and advances by 8 + length (odd lengths get no pad byte),
// up to the length in the RIFF header or the end of the image, whichever comes first. The first
// "fmt " and the first "data" chunk count.
std::optional<Clip> parse(std::span<const std::uint8_t> image);

}  // namespace lumora::platform::wav
