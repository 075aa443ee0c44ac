#include "ui/logo_window.h"

#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::ui {

void onLogoWindowCreated(const EventArgs&) {
    setWindowAlwaysOnTop(kLogoWindow, true);
}

}  // namespace lumora::ui
