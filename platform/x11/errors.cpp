#include "platform/x11/errors.h"

#include <mutex>
#include <vector>

namespace lumora::platform::x11 {

namespace {

std::mutex& trapMutex() {
    static std::mutex m;
    return m;
}

// The innermost trap of each connection; errors on a connection without a trap are dropped,
// which is still better than ending the process.
std::vector<ErrorTrap*>& traps() {
    static std::vector<ErrorTrap*> list;
    return list;
}

}  // namespace

int recordError(Display* display, XErrorEvent* event) {
    std::lock_guard lock(trapMutex());
    for (auto it = traps().rbegin(); it != traps().rend(); ++it) {
        if ((*it)->display_ == display) {
            if ((*it)->firstError_ == 0)
                (*it)->firstError_ = event->error_code;
            break;
        }
    }
    return 0;
}

ErrorTrap::ErrorTrap(Display* display) : display_(display) {
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(recordError); });
    std::lock_guard lock(trapMutex());
    traps().push_back(this);
}

ErrorTrap::~ErrorTrap() {
    if (display_)
        XSync(display_, False);
    std::lock_guard lock(trapMutex());
    auto& list = traps();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == this) {
            list.erase(it);
            break;
        }
    }
}

bool ErrorTrap::failed() {
    if (display_)
        XSync(display_, False);
    std::lock_guard lock(trapMutex());
    return firstError_ != 0;
}

}  // namespace lumora::platform::x11
