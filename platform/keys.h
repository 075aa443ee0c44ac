#pragma once
// Observing the keyboard without taking keys from the focused program, and the active window.
#include <cstdint>

#include "platform/types.h"

namespace lumora::platform {

inline constexpr int kVkPrintScreen = 0x2C;
inline constexpr int kVkInsert = 0x2D;

// As the caller relies on it: 0x8000 set while the key is down now, 1 set when the key was
// pressed since the previous query of this key (or since monitoring started); 0 otherwise.
// Only PrintScreen and Insert are observed. A press made while Ctrl, Shift, Alt or Super is
// held is another program's shortcut (Shift+Insert pastes) and reports 0 until the key is
// pressed again alone. Opens its own X connection on first use.
std::int32_t asyncKeyState(int virtualKey);

// _NET_ACTIVE_WINDOW of the root window; 0 when absent or None.
WindowHandle foregroundWindow();

}  // namespace lumora::platform
