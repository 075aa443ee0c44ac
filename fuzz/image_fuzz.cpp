// The converter's reader (BMP, and JPEG sources) on any bytes, through the file it is given;
// the picture goes to /dev/null.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/image_encoding.h"

namespace {

// Pictures the converter accepts up to its own bound but whose decoding takes seconds; the
// bound itself is a unit test. Any SOF-like marker counts, so no large frame slips through.
bool claimsLargeJpeg(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    for (std::size_t i = 0; i + 9 <= size; ++i) {
        const std::uint8_t m = data[i + 1];
        if (data[i] == 0xFF && m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            const std::uint64_t height = (data[i + 5] << 8) | data[i + 6];
            const std::uint64_t width = (data[i + 7] << 8) | data[i + 8];
            if (width * height > (1u << 20))
                return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (claimsLargeJpeg(data, size))
        return 0;
    static const int fd = memfd_create("lumora-fuzz", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
        return 0;
    const std::string source = "/proc/self/fd/" + std::to_string(fd);
    const bool grayscale = size > 2 && (data[size - 1] & 1);
    lumora::platform::convertBmpToJpg(source, "/dev/null", grayscale, 75, true, 0);
    return 0;
}
