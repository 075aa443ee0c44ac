#pragma once
// The capture keys: PrintScreen for the whole screen, Insert for the foreground window.
#include "ui/events.h"

namespace lumora::capture {

// Tick of the main window's key timer: captures the screen when PrintScreen is down or was
// pressed since the last tick, then the foreground window when Insert is. Keeps no state.
void pollHotkeys(const ui::EventArgs& args);

}  // namespace lumora::capture
