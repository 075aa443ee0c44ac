#pragma once
// Captures on a schedule: at listed times of day, and every N seconds.
#include <string_view>

#include "platform/clock.h"
#include "ui/events.h"

namespace lumora::capture {

// Separators of the time list: entries by the full-width semicolon, hour, minute and second
// by the full-width colon. The ASCII forms are not separators.
inline constexpr std::string_view kTimeListSeparator = "；";
inline constexpr std::string_view kTimePartSeparator = "：";

// How many entries of `list` name the second of `clock` (an entry listed twice counts twice).
// An entry matches when it has exactly three parts whose numbers equal hour, minute and second
// within 1e-7; a part without a number counts as 0. Pure.
int matchTimeList(std::string_view list, platform::DateTime clock);

// Tick of the timed-capture timer: one capture per matching entry, of the whole screen or the
// foreground window by the timed-capture mode; with the mode off the timer stops itself.
void timedCaptureTick(const ui::EventArgs& args);

// Tick of the interval timer: one capture by the interval mode; with the mode off the timer
// stops itself without capturing.
void intervalCaptureTick(const ui::EventArgs& args);

}  // namespace lumora::capture
