#pragma once
// Screen snapshot: the primary screen or one window (with its frame) as a complete 24-bit
// bottom-up BMP file image in memory.
#include "platform/types.h"

namespace lumora::platform {

// A complete BMP file image (14-byte file header, BITMAPINFOHEADER, bottom-up BGR rows padded
// to 4 bytes); empty on failure.
using SnapshotImage = Bytes;

// window 0: the primary screen (primary RandR output); otherwise the window's outer rectangle
// including the window manager's frame. width/height each: 0 keeps the captured size, n > 0 is
// the output size, -n is n percent of the captured size (at least 10 percent). An output size
// of 0 or less, or a handle that names no window, gives an empty image.
SnapshotImage takeSnapshot(WindowHandle window = 0, int width = 0, int height = 0);

}  // namespace lumora::platform
