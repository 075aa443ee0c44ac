#pragma once
// The advertising label of the main window blinks between two colours.
#include "ui/events.h"
#include "ui/model.h"

namespace lumora::app {

inline constexpr ui::Colour kAdvertViolet = 0x00FF0090;
inline constexpr ui::Colour kAdvertBlue = 0x00C06000;

// Tick of 时钟4: 透明标签5 turns blue when violet, violet when any other colour.
void swapAdvertColour(const ui::EventArgs& args);

}  // namespace lumora::app
