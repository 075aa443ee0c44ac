#include "platform/x11/x11_session.h"

// Qt before Xlib: Xlib defines macros (Status, None, Bool) that clash with Qt's names.
#include <QImage>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include "platform/qt/image_to_bmp.h"
#include "platform/snapshot_bmp.h"
#include "platform/x11/errors.h"
#include "platform/x11/properties.h"

namespace lumora::platform {

namespace {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

Rect intersect(const Rect& a, const Rect& b) {
    const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.width, b.x + b.width);
    const int y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDeleter>;

// One connection for the life of the process, and one shared-memory segment that grows to the
// largest grab so far: attaching a fresh segment per capture costs more than a plain XGetImage.
class Grabber {
public:
    ~Grabber() {
        releaseSegment();
        if (display_)
            XCloseDisplay(display_);
    }

    Display* display() {
        if (!display_ && !openFailed_) {
            display_ = XOpenDisplay(nullptr);
            openFailed_ = display_ == nullptr;
            if (display_) {
                int major = 0, minor = 0;
                Bool pixmaps = False;
                shmUsable_ = XShmQueryExtension(display_) &&
                             XShmQueryVersion(display_, &major, &minor, &pixmaps);
            }
        }
        return display_;
    }

    // The pixels of `area` of `root` as a ZPixmap image; null when the server refuses.
    ImagePtr grab(Window root, Visual* visual, int depth, const Rect& area) {
        if (shmUsable_) {
            if (ImagePtr image = grabShared(root, visual, depth, area))
                return image;
        }
        x11::ErrorTrap trap(display_);
        ImagePtr image(
            XGetImage(display_, root, area.x, area.y, area.width, area.height, AllPlanes, ZPixmap));
        if (trap.failed())
            return nullptr;
        return image;
    }

private:
    ImagePtr grabShared(Window root, Visual* visual, int depth, const Rect& area) {
        x11::ErrorTrap trap(display_);
        ImagePtr image(XShmCreateImage(display_, visual, depth, ZPixmap, nullptr, &segment_,
                                       area.width, area.height));
        if (!image)
            return nullptr;
        const std::size_t need =
            static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(area.height);
        if (!ensureSegment(need))
            return nullptr;
        image->data = segment_.shmaddr;
        const bool ok = XShmGetImage(display_, root, image.get(), area.x, area.y, AllPlanes);
        if (!ok || trap.failed()) {
            // A server that accepted the segment but cannot fill it will not do better next
            // time; the plain request still works.
            shmUsable_ = false;
            releaseSegment();
            return nullptr;
        }
        return image;
    }

    bool ensureSegment(std::size_t need) {
        if (segmentSize_ >= need)
            return true;
        releaseSegment();
        const int id = shmget(IPC_PRIVATE, need, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        segment_.shmid = id;
        segment_.shmaddr = static_cast<char*>(address);
        segment_.readOnly = False;
        x11::ErrorTrap trap(display_);
        const bool attached = XShmAttach(display_, &segment_) && !trap.failed();
        // Once the server holds it, marking the segment removed lets the kernel free it
        // however this process ends.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            shmdt(address);
            segment_ = {};
            shmUsable_ = false;
            return false;
        }
        segmentSize_ = need;
        return true;
    }

    void releaseSegment() {
        if (segmentSize_ == 0)
            return;
        {
            x11::ErrorTrap trap(display_);
            XShmDetach(display_, &segment_);
        }
        shmdt(segment_.shmaddr);
        segment_ = {};
        segmentSize_ = 0;
    }

    Display* display_ = nullptr;
    bool openFailed_ = false;
    bool shmUsable_ = false;
    XShmSegmentInfo segment_{};
    std::size_t segmentSize_ = 0;
};

// Never destroyed: other statics it relies on (the error trap's registry) may be gone by the
// time exit handlers run. The kernel frees the segment (already marked removed) and the server
// drops the connection when the process ends.
Grabber& grabber() {
    static Grabber* instance = new Grabber;
    return *instance;
}

std::mutex& grabMutex() {
    static std::mutex m;
    return m;
}

int screenOfRoot(Display* display, Window root) {
    for (int i = 0; i < ScreenCount(display); ++i) {
        if (RootWindow(display, i) == root)
            return i;
    }
    return DefaultScreen(display);
}

// The primary RandR monitor: monitors are what desktops lay out and Qt places windows on, also
// where they are made by hand (`xrandr --setmonitor`) or split one output in two.
Rect primaryMonitorRect(Display* display, Window root, const Rect& rootRect) {
    int major = 0, minor = 0;
    if (!XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5))
        return {};
    x11::ErrorTrap trap(display);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    Rect found;
    if (monitors != nullptr && !trap.failed()) {
        // Without a primary, the first, as Qt takes it.
        int chosen = -1;
        for (int i = 0; i < count; ++i) {
            const Rect r = intersect(
                {monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height}, rootRect);
            if (r.width == 0)
                continue;
            if (chosen < 0 || monitors[i].primary) {
                chosen = i;
                found = r;
            }
            if (monitors[i].primary)
                break;
        }
    }
    if (monitors != nullptr)
        XRRFreeMonitors(monitors);
    return trap.failed() ? Rect{} : found;
}

// The primary output's rectangle; without a primary the first lit output (where the server
// puts the desktop's origin). Empty when RandR knows no lit output.
Rect primaryOutputRect(Display* display, Window root, const Rect& rootRect) {
    x11::ErrorTrap trap(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (!resources)
        return {};
    const RROutput primary = XRRGetOutputPrimary(display, root);
    Rect found;
    auto rectOf = [&](RROutput output) -> Rect {
        Rect r;
        XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
        if (info && info->crtc != None && info->connection != RR_Disconnected) {
            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, info->crtc)) {
                r = intersect({crtc->x, crtc->y, static_cast<int>(crtc->width),
                               static_cast<int>(crtc->height)},
                              rootRect);
                XRRFreeCrtcInfo(crtc);
            }
        }
        if (info)
            XRRFreeOutputInfo(info);
        return r;
    };
    if (primary != None)
        found = rectOf(primary);
    for (int i = 0; found.width == 0 && i < resources->noutput; ++i) {
        found = rectOf(resources->outputs[i]);
    }
    XRRFreeScreenResources(resources);
    return trap.failed() ? Rect{} : found;
}

// Xinerama's first head: servers that join several screens without RandR outputs.
Rect firstXineramaHead(Display* display, const Rect& rootRect) {
    int eventBase = 0, errorBase = 0;
    if (!XineramaQueryExtension(display, &eventBase, &errorBase) || !XineramaIsActive(display))
        return {};
    int count = 0;
    XineramaScreenInfo* heads = XineramaQueryScreens(display, &count);
    Rect found;
    for (int i = 0; heads != nullptr && i < count && found.width == 0; ++i) {
        if (heads[i].screen_number == 0)
            found = intersect({heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height},
                              rootRect);
    }
    if (heads != nullptr)
        XFree(heads);
    return found;
}

// What PrintScreen captures: the primary monitor, else the primary (or first) output, else
// Xinerama's first head, else the whole root.
Rect primaryScreenRect(Display* display, Window root, const Rect& rootRect) {
    int eventBase = 0, errorBase = 0;
    if (XRRQueryExtension(display, &eventBase, &errorBase)) {
        for (const Rect& r : {primaryMonitorRect(display, root, rootRect),
                              primaryOutputRect(display, root, rootRect)}) {
            if (r.width > 0)
                return r;
        }
    }
    if (const Rect head = firstXineramaHead(display, rootRect); head.width > 0)
        return head;
    return rootRect;
}

// The rectangle around `rootRect` and every lit output, negative coordinates included.
Rect layoutRect(Display* display, Window root, const Rect& rootRect) {
    int left = rootRect.x, top = rootRect.y;
    int right = rootRect.x + rootRect.width, bottom = rootRect.y + rootRect.height;
    int eventBase = 0, errorBase = 0;
    if (XRRQueryExtension(display, &eventBase, &errorBase)) {
        x11::ErrorTrap trap(display);
        if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root)) {
            for (int i = 0; i < resources->ncrtc; ++i) {
                XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
                if (!crtc)
                    continue;
                if (crtc->mode != None && crtc->noutput > 0 && crtc->width > 0 &&
                    crtc->height > 0) {
                    left = std::min(left, crtc->x);
                    top = std::min(top, crtc->y);
                    right = std::max(right, crtc->x + static_cast<int>(crtc->width));
                    bottom = std::max(bottom, crtc->y + static_cast<int>(crtc->height));
                }
                XRRFreeCrtcInfo(crtc);
            }
            XRRFreeScreenResources(resources);
        }
        if (trap.failed())
            return rootRect;
    }
    return {left, top, right - left, bottom - top};
}

// The window manager's frame around `window` (its ancestor that is a child of the root), or
// the window itself when it is top-level or the root. False when the id names no window.
bool findFrame(Display* display, Window window, Window* frame, Window* root) {
    x11::ErrorTrap trap(display);
    Window current = window;
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        const Status ok = XQueryTree(display, current, &rootReturn, &parent, &children, &count);
        if (children)
            XFree(children);
        if (!ok || trap.failed())
            return false;
        if (current == rootReturn || parent == rootReturn || parent == None) {
            *frame = current;
            *root = rootReturn;
            return true;
        }
        current = parent;
    }
    return false;
}

// What a person sees of a top-level window, where the window and its manager say it: a client
// that draws its own title bar keeps an invisible shadow inside its window (_GTK_FRAME_EXTENTS),
// and some managers' frame windows hold invisible resize borders around the visible frame,
// which the client plus _NET_FRAME_EXTENTS leaves out. Nothing when neither is set; the frame
// window is then what the person sees.
std::optional<Rect> visibleBounds(Display* display, Window client, Window root) {
    x11::ErrorTrap trap(display);
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = 0;
    if (!XGetWindowAttributes(display, client, &attributes) ||
        !XTranslateCoordinates(display, client, root, 0, 0, &x, &y, &child) || trap.failed())
        return std::nullopt;
    const Rect inner{x, y, attributes.width, attributes.height};
    Rect seen;
    if (const auto shadow =
            x11::readExtents(display, client, XInternAtom(display, "_GTK_FRAME_EXTENTS", False))) {
        seen = {inner.x + shadow->left, inner.y + shadow->top,
                inner.width - shadow->left - shadow->right,
                inner.height - shadow->top - shadow->bottom};
    } else if (const auto frame = x11::readExtents(
                   display, client, XInternAtom(display, "_NET_FRAME_EXTENTS", False))) {
        seen = {inner.x - frame->left, inner.y - frame->top,
                inner.width + frame->left + frame->right,
                inner.height + frame->top + frame->bottom};
    } else {
        return std::nullopt;
    }
    if (trap.failed() || seen.width <= 0 || seen.height <= 0)
        return std::nullopt;
    return seen;
}

int shiftOf(unsigned long mask) {
    return mask ? std::countr_zero(mask) : 0;
}

// Brings any TrueColor/DirectColor ZPixmap into 0x00RRGGBB rows; the common 32-bit
// little-endian BGRX layout needs no work and is used in place.
QImage toRgb32(XImage* image, Visual* visual) {
    const bool nativeBgrx =
        image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
        image->blue_mask == 0xFF &&
        (image->byte_order == LSBFirst) == (std::endian::native == std::endian::little);
    if (nativeBgrx) {
        return QImage(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                      image->bytes_per_line, QImage::Format_RGB32);
    }
    QImage out(image->width, image->height, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const unsigned long masks[3] = {
        image->red_mask ? image->red_mask : visual->red_mask,
        image->green_mask ? image->green_mask : visual->green_mask,
        image->blue_mask ? image->blue_mask : visual->blue_mask,
    };
    for (int y = 0; y < image->height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            int channel[3];
            for (int c = 0; c < 3; ++c) {
                const unsigned long max = masks[c] >> shiftOf(masks[c]);
                const unsigned long value = (pixel & masks[c]) >> shiftOf(masks[c]);
                channel[c] = max ? static_cast<int>((value * 255 + max / 2) / max) : 0;
            }
            line[x] = qRgb(channel[0], channel[1], channel[2]);
        }
    }
    return out;
}

// The root-window rectangle a snapshot of `window` shows: the primary screen for 0, else the
// window as a person sees it (client-side shadows left out, the frame added). False when the id names no window.
bool sourceRect(Display* display, WindowHandle window, Window* root, Rect* source) {
    *root = DefaultRootWindow(display);
    if (window == 0) {
        XWindowAttributes rootAttributes{};
        x11::ErrorTrap trap(display);
        if (!XGetWindowAttributes(display, *root, &rootAttributes) || trap.failed())
            return false;
        *source =
            primaryScreenRect(display, *root, {0, 0, rootAttributes.width, rootAttributes.height});
        return true;
    }
    Window frame = 0;
    if (!findFrame(display, static_cast<Window>(window), &frame, root))
        return false;
    XWindowAttributes attributes{};
    x11::ErrorTrap trap(display);
    if (!XGetWindowAttributes(display, frame, &attributes) || trap.failed())
        return false;
    if (frame == *root) {
        *source = {0, 0, attributes.width, attributes.height};
    } else {
        *source = {attributes.x, attributes.y, attributes.width + 2 * attributes.border_width,
                   attributes.height + 2 * attributes.border_width};
        if (const auto seen = visibleBounds(display, static_cast<Window>(window), *root))
            *source = *seen;
    }
    return true;
}

}  // namespace

namespace x11 {

std::optional<ScreenRect> snapshotArea(WindowHandle window) {
    if (window > 0x1FFFFFFFu)
        return std::nullopt;
    std::lock_guard lock(grabMutex());
    Display* display = grabber().display();
    if (!display)
        return std::nullopt;
    Window root = 0;
    Rect source;
    if (!sourceRect(display, window, &root, &source) || source.width <= 0 || source.height <= 0)
        return std::nullopt;
    return ScreenRect{source.x, source.y, source.width, source.height};
}

std::optional<ScreenLayout> screenLayout() {
    std::lock_guard lock(grabMutex());
    Display* display = grabber().display();
    if (!display)
        return std::nullopt;
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    {
        x11::ErrorTrap trap(display);
        if (!XGetWindowAttributes(display, root, &attributes) || trap.failed())
            return std::nullopt;
    }
    const Rect rootRect{0, 0, attributes.width, attributes.height};
    const Rect primary = primaryScreenRect(display, root, rootRect);
    const Rect layout = layoutRect(display, root, rootRect);
    return ScreenLayout{attributes.width, attributes.height, primary.x, primary.y,
                        primary.width,    primary.height,    layout.x,  layout.y,
                        layout.width,     layout.height};
}

Bytes takeSnapshot(WindowHandle window, int width, int height) {
    // X ids carry 29 bits on the wire; a larger number would silently name another window.
    if (window > 0x1FFFFFFFu)
        return {};

    std::lock_guard lock(grabMutex());
    snapshot::keepCaptureBuffersResident();
    Grabber& g = grabber();
    Display* display = g.display();
    if (!display)
        return {};

    Window root = DefaultRootWindow(display);
    Rect source;
    if (!sourceRect(display, window, &root, &source))
        return {};
    if (source.width <= 0 || source.height <= 0)
        return {};

    const auto outWidth = snapshot::outputDimension(width, source.width);
    const auto outHeight = snapshot::outputDimension(height, source.height);
    if (!outWidth || !outHeight)
        return {};
    // Refuse before grabbing anything when the result cannot be a BMP file at all.
    if (snapshot::kBmpHeaderSize + snapshot::bmpStride(static_cast<std::uint64_t>(*outWidth)) *
                                       static_cast<std::uint64_t>(*outHeight) >
        0xFFFFFFFFull) {
        return {};
    }

    const int screen = screenOfRoot(display, root);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    const Rect screenRect{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    const Rect visible = intersect(source, screenRect);

    ImagePtr grabbed;
    QImage pixels;
    if (visible.width > 0) {
        grabbed = g.grab(root, visual, depth, visible);
        if (!grabbed)
            return {};
        pixels = toRgb32(grabbed.get(), visual);
        if (pixels.isNull())
            return {};
    }
    if (visible.width != source.width || visible.height != source.height) {
        // What lies beyond the screen's edges shows as black.
        QImage whole(source.width, source.height, QImage::Format_RGB32);
        if (whole.isNull())
            return {};
        whole.fill(0xFF000000u);
        for (int y = 0; y < visible.height; ++y) {
            std::memcpy(whole.scanLine(visible.y - source.y + y) + 4 * (visible.x - source.x),
                        pixels.constScanLine(y), 4 * static_cast<std::size_t>(visible.width));
        }
        pixels = std::move(whole);
    }
    return snapshot::imageToBmp(pixels, width, height);
}

}  // namespace x11

}  // namespace lumora::platform
