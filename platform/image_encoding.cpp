#include "platform/image_encoding.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/file_io.h"
#include "platform/snapshot_bmp.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace lumora::platform {

namespace {

// ---- reading the BMP -----------------------------------------------------------------------

std::uint32_t get16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A 24-bit blue-green-red picture handed to the encoder a band of rows at a time, top row
// first. A BMP's rows are read from the file band by band into one small buffer that stays in
// the cache (a bottom-up band is one contiguous read, walked backwards), so no full-size copy
// of the picture is ever made; a decoded JPEG's rows are already in memory.
struct BgrRows {
    static constexpr int kBandRows = 16;

    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    bool inMemory = false;
    const io::SourceFile* source = nullptr;
    std::uint64_t offset = 0;
    bool bottomUp = false;
    std::unique_ptr<std::uint8_t[]> storage;  // the band buffer, or the whole decoded picture
    const std::uint8_t* borrowed = nullptr;   // rows of a picture the caller holds in memory

    // Points rows[0..count) at picture rows first..first+count-1; false when the file could
    // not be read (it changed after it was checked).
    bool band(int first, int count, JSAMPROW* rows) {
        if (borrowed != nullptr) {
            for (int i = 0; i < count; ++i) {
                const int row = bottomUp ? height - 1 - (first + i) : first + i;
                rows[i] =
                    const_cast<std::uint8_t*>(borrowed) + static_cast<std::size_t>(row) * stride;
            }
            return true;
        }
        if (inMemory) {
            for (int i = 0; i < count; ++i)
                rows[i] = storage.get() + static_cast<std::size_t>(first + i) * stride;
            return true;
        }
        const int storedFirst = bottomUp ? height - first - count : first;
        if (!source->readAt(storage.get(), static_cast<std::size_t>(count) * stride,
                            offset + static_cast<std::uint64_t>(storedFirst) * stride))
            return false;
        for (int i = 0; i < count; ++i) {
            const int stored = bottomUp ? count - 1 - i : i;
            rows[i] = storage.get() + static_cast<std::size_t>(stored) * stride;
        }
        return true;
    }
};

enum class Decoded { Ok, Refused, TooLarge };

// The largest side libjpeg encodes; bigger pictures would be refused by the encoder anyway,
// so they are stopped before their pixels are read.
constexpr std::int64_t kJpegMaxSide = JPEG_MAX_DIMENSION;

// Reads the headers and checks that the file holds every row; the rows themselves are read
// while encoding. Accepts the 12-byte core header and the 40-byte information header with its
// longer successors (same first 40 bytes); only 24 bits per pixel.
Decoded decodeBmp(const io::SourceFile& file, std::uint64_t fileSize, BgrRows& picture) {
    std::uint8_t header[14 + 40] = {};
    if (fileSize < 14 + 12 || !file.readAt(header, std::min<std::uint64_t>(fileSize, 54), 0))
        return Decoded::Refused;
    if (header[0] != 'B' || header[1] != 'M')
        return Decoded::Refused;
    const std::uint64_t offBits = get32(header + 10);
    const std::uint32_t infoSize = get32(header + 14);

    std::int64_t width = 0, height = 0;
    std::uint32_t bitCount = 0, compression = 0;
    if (infoSize == 12) {
        width = get16(header + 18);
        height = get16(header + 20);
        bitCount = get16(header + 24);
    } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 ||
               infoSize == 124) {
        if (fileSize < 14 + 40)
            return Decoded::Refused;
        width = static_cast<std::int32_t>(get32(header + 18));
        height = static_cast<std::int32_t>(get32(header + 22));
        bitCount = get16(header + 28);
        compression = get32(header + 30);
    } else {
        return Decoded::Refused;
    }
    // Run-length codes have no 24-bit form; bit fields at 24 bits are the plain layout.
    if (bitCount != 24 || (compression != 0 && compression != 3))
        return Decoded::Refused;
    if (width < 1 || height == 0)
        return Decoded::Refused;
    if (offBits < 14 + infoSize)
        return Decoded::Refused;

    const bool bottomUp = height > 0;
    if (height < 0)
        height = -height;
    const std::uint64_t stride = ((24 * static_cast<std::uint64_t>(width) + 31) & ~31ull) / 8;
    const std::uint64_t pixelBytes = stride * static_cast<std::uint64_t>(height);
    // A short file is refused whole rather than turned into a picture with made-up rows.
    if (offBits > fileSize || pixelBytes > fileSize - offBits)
        return Decoded::Refused;
    if (width > kJpegMaxSide || height > kJpegMaxSide)
        return Decoded::TooLarge;

    picture.storage.reset(new (std::nothrow) std::uint8_t[stride * BgrRows::kBandRows]);
    if (!picture.storage)
        return Decoded::Refused;
    picture.source = &file;
    picture.offset = offBits;
    picture.stride = stride;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.bottomUp = bottomUp;
    return Decoded::Ok;
}

// libjpeg reports fatal errors through error_exit, which must not return: jump back to the
// operation that set the jump buffer. Warnings stay silent (there is no console to show).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void silentMessage(j_common_ptr) {}

void setUpErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnError;
    errors.base.output_message = silentMessage;
}

// Bounds of a JPEG source, checked from its header: a side of 32768 pixels, 512 MiB decoded.
constexpr JDIMENSION kLargestDecodedSide = 32768;
constexpr std::uint64_t kLargestDecodedBytes = 512ull << 20;
constexpr int kMostScans = 1000;

void stopAfterManyScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMostScans)
        jumpOnError(info);
}

// Decodes into picture.storage (owned by the caller's object, so a jump out of libjpeg leaks
// nothing). Only C objects of this frame are touched between setjmp and a possible longjmp.
Decoded decodeJpegInto(const std::uint8_t* data, std::size_t size, BgrRows& picture) {
    ErrorManager errors;
    jpeg_decompress_struct info;
    setUpErrors(errors);
    info.err = &errors.base;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return Decoded::Refused;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    // A few hundred bytes may claim gigapixels: refused before anything is allocated.
    if (info.image_width > kLargestDecodedSide || info.image_height > kLargestDecodedSide ||
        std::uint64_t{info.image_width} * info.image_height * 3 > kLargestDecodedBytes) {
        jpeg_destroy_decompress(&info);
        return Decoded::Refused;
    }
    // Each scan of a progressive file is a pass over the whole picture; a small file can
    // hold thousands of them.
    jpeg_progress_mgr progress{};
    progress.progress_monitor = stopAfterManyScans;
    info.progress = &progress;
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
    picture.storage.reset(new (std::nothrow)
                              std::uint8_t[stride * static_cast<std::size_t>(info.output_height)]);
    if (!picture.storage) {
        jpeg_destroy_decompress(&info);
        return Decoded::Refused;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.storage.get() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    picture.inMemory = true;
    picture.stride = stride;
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    jpeg_destroy_decompress(&info);
    return Decoded::Ok;
}

// JPEG input is accepted too (re-encoded with the requested options), so a file that already
// is a JPEG is not reported as undecodable.
Decoded decodeJpeg(const io::SourceFile& file, std::uint64_t fileSize, BgrRows& picture) {
    if (fileSize > kLargestDecodedBytes)
        return Decoded::Refused;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[fileSize]);
    if (!data || !file.readAt(data.get(), fileSize, 0))
        return Decoded::Refused;
    return decodeJpegInto(data.get(), fileSize, picture);
}

// ---- encoding ------------------------------------------------------------------------------

struct EncodeOptions {
    bool grayscale;
    int quality;
    bool optimise;
    int smoothing;
};

// Only C objects live in this frame between setjmp and a possible longjmp; `out` is set before
// setjmp and never changed, so it is still valid when the jump lands.
int encode(BgrRows& picture, std::FILE* out, const EncodeOptions& options) {
    ErrorManager errors;
    jpeg_compress_struct info;
    setUpErrors(errors);
    info.err = &errors.base;
    jpeg_create_compress(&info);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::fclose(out);
        return kConvertWriteFailed;
    }
    jpeg_stdio_dest(&info, out);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    if (options.grayscale)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    info.optimize_coding = options.optimise ? TRUE : FALSE;
    info.smoothing_factor = options.smoothing;
    jpeg_set_quality(&info, options.quality, TRUE);
    jpeg_start_compress(&info, TRUE);

    JSAMPROW rows[BgrRows::kBandRows];
    while (info.next_scanline < info.image_height) {
        const int first = static_cast<int>(info.next_scanline);
        const int count = std::min<int>(BgrRows::kBandRows, picture.height - first);
        if (!picture.band(first, count, rows)) {
            jpeg_destroy_compress(&info);
            std::fclose(out);
            return kConvertWriteFailed;
        }
        jpeg_write_scanlines(&info, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    // stdio may hold the last block until here; a full disk shows up now.
    return std::fclose(out) == 0 ? kConvertOk : kConvertWriteFailed;
}

}  // namespace

int convertBmpToJpg(const std::string& bmpPath, const std::string& jpgPath, bool grayscale,
                    int quality, bool optimise, int smoothing) {
    if (bmpPath.empty() || jpgPath.empty() || quality < 1 || quality > 100 || smoothing < 0 ||
        smoothing > 100) {
        return kConvertBadArguments;
    }
    // Writing the JPEG over its own source would destroy the picture being read.
    if (bmpPath == jpgPath)
        return kConvertBadArguments;

    switch (io::inspectSource(bmpPath, jpgPath)) {
        case io::Source::Missing:
            return kConvertNoSource;
        case io::Source::Unreadable:
        case io::Source::NotRegular:
            return kConvertUndecodable;
        case io::Source::SameAsTarget:
            return kConvertBadArguments;
        case io::Source::Regular:
            break;
    }

    snapshot::keepCaptureBuffersResident();
    io::SourceFile source;
    if (!source.open(bmpPath))
        return kConvertUndecodable;
    const std::uint64_t fileSize = source.size();
    std::uint8_t magic[2] = {};
    if (fileSize < 2 || !source.readAt(magic, 2, 0))
        return kConvertUndecodable;
    BgrRows picture;
    Decoded decoded = Decoded::Refused;
    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        decoded = decodeJpeg(source, fileSize, picture);
    } else if (magic[0] == 'B' && magic[1] == 'M') {
        decoded = decodeBmp(source, fileSize, picture);
    }
    if (decoded == Decoded::TooLarge)
        return kConvertWriteFailed;
    if (decoded != Decoded::Ok)
        return kConvertUndecodable;
    if (picture.width > kJpegMaxSide || picture.height > kJpegMaxSide)
        return kConvertWriteFailed;

    std::FILE* out = io::createStream(jpgPath);
    if (!out)
        return kConvertWriteFailed;
    return encode(picture, out, {grayscale, quality, optimise, smoothing});
}

namespace {

// The rows of a BMP file image in memory, as takeSnapshot makes it; false for anything else.
bool viewBmpImage(std::span<const std::uint8_t> bmp, BgrRows& picture) {
    const std::optional<snapshot::BmpRows> view = snapshot::viewBmp(bmp);
    if (!view || view->width > kJpegMaxSide || view->height > kJpegMaxSide)
        return false;
    picture.bottomUp = view->bottomUp;
    picture.borrowed = view->rows;
    picture.stride = view->stride;
    picture.width = view->width;
    picture.height = view->height;
    return true;
}

}  // namespace

int writeJpegFromBmpImage(std::span<const std::uint8_t> bmp, int fd, int quality, bool optimise) {
    if (fd < 0 || quality < 1 || quality > 100)
        return kConvertBadArguments;
    BgrRows picture;
    if (!viewBmpImage(bmp, picture))
        return kConvertUndecodable;
    snapshot::keepCaptureBuffersResident();
    // The stream writes through a duplicate of the caller's descriptor, which stays open (and
    // at its end position) for the caller to name the file.
    std::FILE* out = io::streamOnCopy(fd);
    if (out == nullptr)
        return kConvertWriteFailed;
    // Large enough that a 1080p picture leaves in a few writes.
    std::setvbuf(out, nullptr, _IOFBF, 256 * 1024);
    errno = 0;
    return encode(picture, out, {false, quality, optimise, 0});
}

}  // namespace lumora::platform
