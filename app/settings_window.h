#pragma once
// The settings window's handlers: filling the controls from the options record when the window
// opens, applying the user's choices (validated, stored value by value, taken into effect at
// once), the shutter-sound preview and the balloon hints of the schedule checkboxes.
#include <string_view>

#include "ui/events.h"

namespace lumora::settingswin {

// Created: silver control frames, then every control set from captureSettings().
void onCreated(const ui::EventArgs& args);

// 立即生效 clicked. Stops with a message (window left open) when the custom name, the time
// list of a ticked timed capture or the seconds of a ticked interval capture are empty, or a
// number of the unattended page is out of its range; what came before the failed check stays
// stored. On success the window closes.
void onApply(const ui::EventArgs& args);

// 按钮_音效试听 clicked: plays the clip of the selected sound radio, none when none is.
void onPreviewSound(const ui::EventArgs& args);

// Mouse moved over one of the four schedule checkboxes: its hint, through 气球提示框1.
void onTimedHover(const ui::EventArgs& args);
void onTimedActiveWindowHover(const ui::EventArgs& args);
void onIntervalHover(const ui::EventArgs& args);
void onIntervalActiveWindowHover(const ui::EventArgs& args);

// The validation messages, shown as OK boxes.
inline constexpr std::string_view kEmptyCustomNameMessage = "您没有在自定义名称中输入任何字符！";
inline constexpr std::string_view kEmptyCustomNameCaption = "(*^__^*) ";
// Where the system refuses some characters in file names (Windows).
inline constexpr std::string_view kForbiddenCustomNameMessage =
    "自定义名称中不能有以下字符：\n< > : \" | ? * 以及制表符等控制字符";
inline constexpr std::string_view kEmptyTimesMessage =
    "您启动了定时截图，请在相应编辑框中输入截图时间！";
inline constexpr std::string_view kEmptyIntervalMessage =
    "您启动了间断截图，请在相应编辑框中输入间断时间！";
inline constexpr std::string_view kNoteCaption = "提示：";

// Period of the timed-capture timer after an apply that switches it on.
inline constexpr int kTimedTickMilliseconds = 900;

// The interval timer's period for the text of the seconds box: the number it starts with,
// truncated, in milliseconds; 0 (stopped) for a number that is not positive.
int intervalPeriodMilliseconds(std::string_view secondsText);

}  // namespace lumora::settingswin
