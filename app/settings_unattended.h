#pragma once
// The settings window's page for unattended use (无人值守): what the timed and interval
// captures skip, keep and remove, and where they go. Filled on opening and applied as the last
// step of 立即生效, like the other pages.
#include <string_view>

namespace lumora::settingswin {

// Sets the page's controls from captureSettings().
void fillUnattendedPage();

// Stores the page's options (DWORDs) and takes them into effect. Refuses with a message, and
// stores nothing of this page, when a number is outside its range; false then.
bool applyUnattendedPage();

// The largest numbers the two boxes take: ten years, and 1 TiB in MB.
inline constexpr int kMostKeepDays = 3650;
inline constexpr int kMostKeepMegabytes = 1 << 20;

inline constexpr std::string_view kKeepDaysMessage =
    "保留天数请输入0到3650之间的整数（0表示永久保留）！";
inline constexpr std::string_view kKeepMegabytesMessage =
    "截图占用空间请输入0到1048576之间的整数，单位为MB（0表示不限）！";

}  // namespace lumora::settingswin
