// A window manager that follows the desktop conventions answers _NET_REQUEST_FRAME_EXTENTS by
// writing _NET_FRAME_EXTENTS on a window that is not mapped yet. The question goes out on a
// short-lived connection of its own, so the toolkit's connection and event queue stay untouched.
#include "platform/window_frame.h"

// Qt before Xlib: Xlib's macros (Bool, Status, ...) break Qt headers included after it.
#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "platform/x11/errors.h"
#include "platform/x11/properties.h"

namespace lumora::platform {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned char* data = nullptr;
    Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    ~Property() {
        if (data != nullptr)
            XFree(data);
    }
    // Format-32 items come back as longs whatever the server's word size.
    const unsigned long* longs() const { return reinterpret_cast<const unsigned long*>(data); }
};

bool readProperty(Display* display, Window window, Atom name, Atom type, long maxItems,
                  Property& out) {
    unsigned long remaining = 0;
    const int status =
        XGetWindowProperty(display, window, name, 0, maxItems, False, type, &out.type, &out.format,
                           &out.count, &remaining, &out.data);
    return status == Success && out.data != nullptr && out.type == type && out.format == 32;
}

// The window manager named on the root must still be alive: a crashed one leaves the root's
// properties behind, and waiting on it would only cost time.
bool windowManagerRunning(Display* display, Window root) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Property onRoot;
    if (!readProperty(display, root, check, XA_WINDOW, 1, onRoot) || onRoot.count != 1)
        return false;
    const Window child = onRoot.longs()[0];
    x11::ErrorTrap trap(display);
    Property onChild;
    const bool read = readProperty(display, child, check, XA_WINDOW, 1, onChild);
    if (trap.failed() || !read || onChild.count != 1)
        return false;
    return onChild.longs()[0] == child;
}

bool supportsRequest(Display* display, Window root, Atom request) {
    const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    Property list;
    if (!readProperty(display, root, supported, XA_ATOM, 4096, list))
        return false;
    for (unsigned long i = 0; i < list.count; ++i) {
        if (list.longs()[i] == request)
            return true;
    }
    return false;
}

std::optional<FrameExtents> readExtents(Display* display, Window window, Atom extents) {
    const auto read = x11::readExtents(display, window, extents);
    if (!read)
        return std::nullopt;
    return FrameExtents{read->left, read->right, read->top, read->bottom};
}

// Waits for the extents property to appear on `window`, reading only that window's events.
std::optional<FrameExtents> awaitExtents(Display* display, Window window, Atom extents,
                                         int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        XEvent event;
        while (XCheckTypedWindowEvent(display, window, PropertyNotify, &event)) {
            if (event.xproperty.atom == extents && event.xproperty.state == PropertyNewValue)
                return readExtents(display, window, extents);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return std::nullopt;
        // Reads whatever arrived into the queue without blocking.
        XEventsQueued(display, QueuedAfterReading);
    }
}

// The toolkit may still hold the window's decoration hints in its output buffer; the manager
// must see them before it is asked, or it answers for a window of another kind.
void syncToolkitConnection() {
    auto* application = qGuiApp;
    if (application == nullptr)
        return;
    if (auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>()) {
        if (Display* display = x11->display())
            XSync(display, False);
    }
}

bool offersRequest(Display* display) {
    const Window root = DefaultRootWindow(display);
    const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    return windowManagerRunning(display, root) && supportsRequest(display, root, request);
}

}  // namespace

bool canRequestFrameExtents() {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display)
        return false;
    x11::ErrorTrap trap(display.get());
    return offersRequest(display.get()) && !trap.failed();
}

std::optional<FrameExtents> requestFrameExtents(WindowHandle window, int timeoutMs) {
    if (window == 0)
        return std::nullopt;
    syncToolkitConnection();
    std::unique_ptr<Display, DisplayCloser> owned(XOpenDisplay(nullptr));
    Display* display = owned.get();
    if (display == nullptr)
        return std::nullopt;
    x11::ErrorTrap trap(display);
    if (!offersRequest(display))
        return std::nullopt;
    const Window root = DefaultRootWindow(display);
    const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);

    // Event masks belong to each connection: watching the window's properties here leaves the
    // toolkit's own selection on it as it was.
    const auto target = static_cast<Window>(window);
    XSelectInput(display, target, PropertyChangeMask);
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = target;
    message.xclient.message_type = request;
    message.xclient.format = 32;
    XSendEvent(display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &message);
    if (trap.failed())
        return std::nullopt;  // no such window
    const Atom name = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    auto extents = awaitExtents(display, target, name, timeoutMs);
    XSelectInput(display, target, NoEventMask);
    if (trap.failed())
        return std::nullopt;  // the window went away meanwhile
    return extents;
}

}  // namespace lumora::platform
