// The WAV reader on any bytes: never a read outside the image, and the samples it hands out
// lie inside it in whole frames.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/sound_wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    const auto clip = lumora::platform::wav::parse(image);
    if (!clip)
        return 0;
    const auto& s = clip->samples;
    if (s.data() < data || s.data() + s.size() > data + size || clip->frameBytes == 0 ||
        s.size() % clip->frameBytes != 0)
        std::abort();
    volatile std::uint8_t sum = 0;
    for (std::uint8_t b : s)
        sum = static_cast<std::uint8_t>(sum + b);
    return 0;
}
