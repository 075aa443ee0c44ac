#include "settings/capture_settings.h"

namespace lumora {

CaptureSettings& captureSettings() {
    static CaptureSettings settings;
    return settings;
}

}  // namespace lumora
