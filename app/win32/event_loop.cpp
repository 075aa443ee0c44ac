#include "app/event_loop.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "platform/win32/message_window.h"

namespace lumora::app {

namespace {

bool& loopExists() {
    static bool exists = false;
    return exists;
}

}  // namespace

struct EventLoop::Impl {
    bool com = false;
};

EventLoop::EventLoop(Kind kind, int&, char**) : impl_(std::make_unique<Impl>()) {
    // The folder chooser and the shell's calls are COM objects of this thread.
    impl_->com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (kind == Kind::Gui) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                           ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
    }
    platform::win32::startMessageWindow();
    loopExists() = true;
}

EventLoop::~EventLoop() {
    loopExists() = false;
    if (impl_->com)
        CoUninitialize();
}

int EventLoop::run() {
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got < 0)
            return 1;
        platform::win32::dispatchMessage(message);
    }
}

// WM_QUIT ends the innermost loop, which posts it again for the one around it (a modal box
// does so on its own), so every loop that runs now ends.
void exitEventLoops(int code) {
    if (loopExists())
        PostQuitMessage(code);
}

void flushPostedEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        platform::win32::dispatchMessage(message);
    }
}

std::int64_t currentProcessId() {
    return static_cast<std::int64_t>(GetCurrentProcessId());
}

}  // namespace lumora::app
