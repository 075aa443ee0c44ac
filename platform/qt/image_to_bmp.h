#pragma once

#include "platform/snapshot_bmp.h"

class QImage;

namespace lumora::platform::snapshot {

// A grabbed picture (any QImage format) as a BMP file image of the requested size: width and
// height as for outputDimension, scaled with Qt's smooth filter when they differ from the
// picture's. Empty when the size rules, the format's limits or memory refuse it.
Bytes imageToBmp(const QImage& picture, int width, int height);

}  // namespace lumora::platform::snapshot
