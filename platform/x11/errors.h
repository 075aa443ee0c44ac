#pragma once
// Xlib's default error handler ends the process; a window that vanished between two requests
// must instead turn into a failed operation. Every Xlib connection of the platform layer goes
// through this trap.
#include <X11/Xlib.h>

namespace lumora::platform::x11 {

// Collects the X errors raised on `display` while it lives. Installs, once per process, an
// error handler that records errors per connection instead of exiting.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer every request sent so far, then tells whether any of
    // them failed since the trap was set (or since the last reset()).
    bool failed();
    // The error code of the first failure (0 when none).
    int firstError() const { return firstError_; }
    void reset() { firstError_ = 0; }

private:
    friend int recordError(Display*, XErrorEvent*);
    Display* display_;
    int firstError_ = 0;
};

}  // namespace lumora::platform::x11
