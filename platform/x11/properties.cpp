#include "platform/x11/properties.h"

#include <X11/Xatom.h>

namespace lumora::platform::x11 {

namespace {

// Anything larger is no frame but a broken property.
constexpr long kMaxExtent = 4096;

}  // namespace

std::optional<Extents> readExtents(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 4, False, XA_CARDINAL,
                                          &type, &format, &count, &remaining, &data);
    std::optional<Extents> out;
    if (status == Success && data != nullptr && type == XA_CARDINAL && format == 32 && count == 4) {
        // Format-32 items come back as longs whatever the server's word size.
        const auto* values = reinterpret_cast<const long*>(data);
        bool sane = true;
        for (int i = 0; i < 4; ++i)
            sane = sane && values[i] >= 0 && values[i] <= kMaxExtent;
        if (sane) {
            out = Extents{static_cast<int>(values[0]), static_cast<int>(values[1]),
                          static_cast<int>(values[2]), static_cast<int>(values[3])};
        }
    }
    if (data != nullptr)
        XFree(data);
    return out;
}

}  // namespace lumora::platform::x11
