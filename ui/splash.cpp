#include "ui/splash.h"

#include <utility>

#include "platform/shell.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::ui {

namespace {

SplashStepObserver& observer() {
    static SplashStepObserver instance;
    return instance;
}

void step(int level, int pauseMs) {
    // The handle is taken afresh each time: the window may have been closed meanwhile (Esc),
    // and then the step quietly does nothing.
    const platform::WindowHandle window = windowHandle(kLogoWindow);
    platform::setWindowAlpha(window, level);
    if (observer())
        observer()(window, level);
    platform::delayWithEvents(pauseMs);
}

}  // namespace

void playLogoSplash() {
    openWindow(kLogoWindow);
    setWindowAlwaysOnTop(kLogoWindow, true);
    int level = 0;
    for (; level <= 255; level += 3)
        step(level, 10);
    // The fade-out starts from where the fade-in stopped counting (258, shown as opaque).
    for (; level >= 3; level -= 5)
        step(level, 5);
    closeWindow(kLogoWindow);
    repaintWindow(kMainWindow);
}

void setSplashStepObserver(SplashStepObserver stepObserver) {
    observer() = std::move(stepObserver);
}

}  // namespace lumora::ui
