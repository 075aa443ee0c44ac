#pragma once
// The logo that fades in and out while the program starts.
#include <functional>

#include "platform/types.h"

namespace lumora::ui {

// Opens LogoWindow, fades it in (levels 0, 3, ..., 255, 10 ms apart) and out (258 applied as
// 255, then 253, ..., 3, 5 ms apart) while events keep being processed, closes it and repaints
// MainWindow. Returns with the close of LogoWindow requested.
void playLogoSplash();

// Test seam: called after each opacity step with the window handle and the level asked for.
using SplashStepObserver = std::function<void(platform::WindowHandle window, int level)>;
void setSplashStepObserver(SplashStepObserver observer);

}  // namespace lumora::ui
