// Capture pictures as PNG through libpng: lossless, and cheap enough to run at every scheduled
// capture (see kCompression below for how the settings were chosen).
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <optional>

#include "platform/file_io.h"
#include "platform/image_encoding.h"
#include "platform/snapshot_bmp.h"

#include <png.h>
#include <zlib.h>

namespace lumora::platform {

namespace {

// What zlib is asked to do, chosen by measuring 1080p pictures (docs/benchmarks.md). Level 1
// with run-length matching after the "up" filter costs half of what level 1's usual matching
// costs on photo-like content (whose literals dominate the time) and a third more on a
// desktop of text and flat areas; trying several filters per row, or better matching, costs
// more CPU on both than it saves in bytes.
struct Compression {
    int level;
    int strategy;
    int filters;
};
constexpr Compression kCompression = {1, Z_RLE, PNG_FILTER_UP};

// The encoder's state that must survive a longjmp out of libpng: plain data only.
struct Sink {
    std::FILE* out = nullptr;
    int writeErrno = 0;  // the first failed write's reason
};

void writeData(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, sink->out) != length) {
        if (sink->writeErrno == 0)
            sink->writeErrno = errno != 0 ? errno : EIO;
        png_error(png, "write failed");
    }
}

void flushData(png_structp) {}

[[noreturn]] void failed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void silent(png_structp, png_const_charp) {}

// Everything between setjmp and a possible longjmp is C data of this frame or the caller's.
int encode(const snapshot::BmpRows& picture, Sink& sink) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failed, silent);
    if (png == nullptr)
        return kConvertWriteFailed;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return kConvertWriteFailed;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return kConvertWriteFailed;
    }
    png_set_write_fn(png, &sink, writeData, flushData);
    png_set_compression_level(png, kCompression.level);
    png_set_compression_strategy(png, kCompression.strategy);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kCompression.filters);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    // The snapshot's blue-green-red order is swapped by libpng as each row goes out.
    png_set_bgr(png);
    for (int y = 0; y < picture.height; ++y)
        png_write_row(png, picture.row(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return kConvertOk;
}

}  // namespace

int writePngFromBmpImage(std::span<const std::uint8_t> bmp, int fd) {
    if (fd < 0)
        return kConvertBadArguments;
    const std::optional<snapshot::BmpRows> picture = snapshot::viewBmp(bmp);
    // PNG allows sides up to 2^31 - 1; libpng's own default limit is 1,000,000.
    if (!picture || picture->width > PNG_USER_WIDTH_MAX || picture->height > PNG_USER_HEIGHT_MAX)
        return kConvertUndecodable;
    snapshot::keepCaptureBuffersResident();
    Sink sink;
    // As for JPEG: a stream on a copy of the descriptor, which stays open for the caller.
    sink.out = io::streamOnCopy(fd);
    if (sink.out == nullptr)
        return kConvertWriteFailed;
    std::setvbuf(sink.out, nullptr, _IOFBF, 256 * 1024);
    errno = 0;
    int result = encode(*picture, sink);
    // stdio may hold the last block until here; a full disk shows up now.
    const bool closed = std::fclose(sink.out) == 0;
    const int closeErrno = errno;
    if (result == kConvertOk && !closed) {
        result = kConvertWriteFailed;
        sink.writeErrno = closeErrno != 0 ? closeErrno : EIO;
    }
    if (result == kConvertWriteFailed)
        errno = sink.writeErrno != 0 ? sink.writeErrno : ENOMEM;
    return result;
}

}  // namespace lumora::platform
