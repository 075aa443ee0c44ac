#include "platform/qt/image_to_bmp.h"

#include <QImage>

namespace lumora::platform::snapshot {

Bytes imageToBmp(const QImage& picture, int width, int height) {
    if (picture.isNull())
        return {};
    const auto outWidth = outputDimension(width, picture.width());
    const auto outHeight = outputDimension(height, picture.height());
    if (!outWidth || !outHeight ||
        kBmpHeaderSize + bmpStride(static_cast<std::uint64_t>(*outWidth)) *
                             static_cast<std::uint64_t>(*outHeight) >
            0xFFFFFFFFull)
        return {};
    QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    if (*outWidth != pixels.width() || *outHeight != pixels.height())
        pixels =
            pixels.scaled(*outWidth, *outHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (pixels.isNull() || pixels.depth() != 32)
        return {};
    return packBmp(pixels.constBits(), static_cast<std::size_t>(pixels.bytesPerLine()),
                   pixels.width(), pixels.height());
}

}  // namespace lumora::platform::snapshot
