#pragma once
// Writing capture files: raw bytes, BMP to JPEG through libjpeg, and BMP to PNG through libpng.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace lumora::platform {

// Creates or truncates `path` and writes the pieces in order. False for an empty path, a file
// that cannot be opened or that another writer holds locked, or any write/close error.
bool writeFileBytes(const std::string& path, std::span<const std::uint8_t> data);
bool writeFileBytes(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> pieces);

// Result codes of convertBmpToJpg.
enum ConvertResult : int {
    kConvertOk = 1,
    kConvertNoSource = -1,
    kConvertUndecodable = -3,
    kConvertWriteFailed = -4,
    kConvertBadArguments = -7,
};

// Reads the BMP at bmpPath and writes a baseline JFIF to jpgPath. quality 1..100, smoothing
// 0..100. Never changes the source.
int convertBmpToJpg(const std::string& bmpPath, const std::string& jpgPath, bool grayscale,
                    int quality, bool optimise = false, int smoothing = 0);

// Encodes a BMP file image held in memory (24 bits, as takeSnapshot makes it) as a baseline
// JFIF (4:2:0) and writes it through the open descriptor `fd`; the bytes are those
// convertBmpToJpg makes of the same picture read from a file. No file is read or named here.
// A ConvertResult; after kConvertWriteFailed, errno tells why the write failed.
int writeJpegFromBmpImage(std::span<const std::uint8_t> bmp, int fd, int quality,
                          bool optimise = false);

// Encodes the same BMP file image as a PNG (8-bit RGB, no alpha, no colour or gamma chunks)
// that decodes to exactly its pixels, and writes it through `fd` as writeJpegFromBmpImage
// does. A ConvertResult; after kConvertWriteFailed, errno tells why the write failed.
int writePngFromBmpImage(std::span<const std::uint8_t> bmp, int fd);

}  // namespace lumora::platform
