// PNG capture files: the file decodes to exactly the snapshot's pixels, and a write that fails
// is reported with its reason. Portable: runs in the Windows build's tests too.
#include <gtest/gtest.h>
#include <png.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/image_encoding.h"
#include "platform/snapshot_bmp.h"

namespace lumora::platform {
namespace {

std::vector<std::uint8_t> readAll(std::FILE* file) {
    std::vector<std::uint8_t> bytes;
    std::rewind(file);
    std::uint8_t block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
        bytes.insert(bytes.end(), block, block + n);
    return bytes;
}

TEST(PngEncodingTest, DecodesToTheSnapshotsPixelsAndReportsAFailedWrite) {
    // An odd width (rows padded in the BMP), every byte value in every channel, flat runs.
    const int width = 37, height = 23;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        pixels[i] = (i / width) % 3 == 0 ? 0x00336699u : (seed >> 8);
    }
    const Bytes bmp = snapshot::packBmp(reinterpret_cast<const std::uint8_t*>(pixels.data()),
                                        4 * width, width, height);
    ASSERT_FALSE(bmp.empty());

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(writePngFromBmpImage(bmp, fileno(file)), kConvertOk);
    const std::vector<std::uint8_t> png = readAll(file);
    std::fclose(file);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    EXPECT_EQ(image.width, static_cast<png_uint_32>(width));
    EXPECT_EQ(image.height, static_cast<png_uint_32>(height));
    EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));  // no alpha
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    int differing = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t p = pixels[i];
        differing += rgb[3 * i] != ((p >> 16) & 0xFF) || rgb[3 * i + 1] != ((p >> 8) & 0xFF) ||
                     rgb[3 * i + 2] != (p & 0xFF);
    }
    EXPECT_EQ(differing, 0);

#ifndef _WIN32
    // A full disk: the failure and its reason, not a success. (Wine lets a Windows program
    // open /dev/full but hides its errors, so only the Linux build looks.)
    if (std::FILE* full = std::fopen("/dev/full", "wb")) {
        errno = 0;
        EXPECT_EQ(writePngFromBmpImage(bmp, fileno(full)), kConvertWriteFailed);
        EXPECT_EQ(errno, ENOSPC);
        std::fclose(full);
    }
#endif

    EXPECT_EQ(writePngFromBmpImage(Bytes{'B', 'M'}, 0), kConvertUndecodable);
}

}  // namespace
}  // namespace lumora::platform
