#pragma once
// The capture keys: PrintScreen for the whole screen, Insert for the foreground window.
#include "ui/events.h"

namespace lumora::capture {

// Tick of the main window's key timer. The first tick asks the desktop session to tell key
// changes as they happen; where it can, a capture runs at the press itself, a key held down
// captures again every 300 ms counted from its press, and the tick only mends what the pushed
// changes missed (a press seen down on the keymap but never told), never capturing a press
// twice. Where the session cannot, the tick captures the screen when PrintScreen is down or
// was pressed since the last tick, then the foreground window when Insert is.
void pollHotkeys(const ui::EventArgs& args);

// Stops watching the keys and stops the repeats of held keys (program end).
void stopWatchingKeys();

}  // namespace lumora::capture
