#include "platform/sound_wav.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumora::platform::wav {

namespace {

constexpr std::size_t kMinimumPlayable = 36;  // more than 35 bytes
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// The tail every KSDATAFORMAT_SUBTYPE GUID shares; the first two bytes name the format.
constexpr std::array<std::uint8_t, 14> kSubtypeTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(u16(b, at)) |
           (static_cast<std::uint32_t>(u16(b, at + 2)) << 16);
}

bool hasId(std::span<const std::uint8_t> b, std::size_t at, const char (&id)[5]) {
    return std::memcmp(b.data() + at, id, 4) == 0;
}

// The PCM layout named by a "fmt " body, or nothing for a format we cannot play.
std::optional<Clip> readFormat(std::span<const std::uint8_t> fmt) {
    if (fmt.size() < 16)
        return std::nullopt;
    std::uint16_t tag = u16(fmt, 0);
    // WAVE_FORMAT_EXTENSIBLE carries the real format in its sub-type GUID.
    if (tag == kFormatExtensible && fmt.size() >= 40 && u16(fmt, 16) >= 22 &&
        std::equal(kSubtypeTail.begin(), kSubtypeTail.end(), fmt.begin() + 26)) {
        tag = u16(fmt, 24);
    }
    if (tag != kFormatPcm)
        return std::nullopt;
    const unsigned channels = u16(fmt, 2);
    const unsigned rate = u32(fmt, 4);
    const unsigned bits = u16(fmt, 14);
    if (channels == 0 || rate == 0 || (bits != 8 && bits != 16))
        return std::nullopt;
    Clip clip{};
    clip.format = bits == 8 ? SampleFormat::U8 : SampleFormat::S16LE;
    clip.channels = channels;
    clip.rate = rate;
    // The block alignment is implied by channels and bits for PCM; a stored value that
    // disagrees must not make us step through the samples with the wrong stride.
    clip.frameBytes = static_cast<std::size_t>(channels) * (bits / 8);
    return clip;
}

}  // namespace

bool isRiffWave(std::span<const std::uint8_t> image) {
    return image.size() >= 12 && hasId(image, 0, "RIFF") && hasId(image, 8, "WAVE");
}

std::optional<Clip> parse(std::span<const std::uint8_t> image) {
    if (!isRiffWave(image) || image.size() < kMinimumPlayable)
        return std::nullopt;

    // 64-bit offsets: a chunk length near 4 GiB must end the walk, not wrap it around.
    const std::uint64_t size = image.size();
    const std::uint64_t end = std::min<std::uint64_t>(size, 8 + std::uint64_t{u32(image, 4)});
    std::optional<std::span<const std::uint8_t>> fmt, data;
    bool truncated = false;
    for (std::uint64_t pos = 12; pos + 8 <= end && !(fmt && data);) {
        const std::uint64_t length = u32(image, static_cast<std::size_t>(pos + 4));
        const std::uint64_t body = pos + 8;
        const std::uint64_t present = std::min(length, size - body);
        const auto bytes =
            image.subspan(static_cast<std::size_t>(body), static_cast<std::size_t>(present));
        if (!fmt && hasId(image, static_cast<std::size_t>(pos), "fmt ")) {
            fmt = bytes;
        } else if (!data && hasId(image, static_cast<std::size_t>(pos), "data")) {
            data = bytes;
            truncated = present < length;
        }
        pos = body + length;
    }
    if (!fmt || !data)
        return std::nullopt;

    std::optional<Clip> clip = readFormat(*fmt);
    if (!clip)
        return std::nullopt;
    const std::size_t whole = data->size() / clip->frameBytes * clip->frameBytes;
    if (whole == 0)
        return std::nullopt;
    clip->samples = data->first(whole);
    clip->truncated = truncated;
    return clip;
}

}  // namespace lumora::platform::wav
