#include "capture/trigger.h"

#include "capture/capture_and_save.h"
#include "platform/keys.h"

namespace lumora::capture {

void pollHotkeys(const ui::EventArgs&) {
    if (platform::asyncKeyState(platform::kVkPrintScreen) != 0)
        captureAndSave(0, CaptureKind::Manual);
    // Sampled after the screen capture has finished; the foreground window is looked up only
    // when it is needed.
    if (platform::asyncKeyState(platform::kVkInsert) != 0)
        captureAndSave(platform::foregroundWindow(), CaptureKind::Manual);
}

}  // namespace lumora::capture
