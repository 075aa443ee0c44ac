#include "app/settings_unattended.h"

#include <cmath>
#include <optional>
#include <string>

#include "app/settings_window.h"
#include "capture/retention.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::settingswin {

namespace {

using settings::Option;

constexpr std::string_view S = ui::kSettingsWindow;
constexpr std::string_view kSkipUnchanged = "选择框_跳过相同";
constexpr std::string_view kDayFolders = "选择框_按日分文件夹";
constexpr std::string_view kPauseWhenLocked = "选择框_锁屏暂停";
constexpr std::string_view kKeepDaysBox = "编辑框_保留天数";
constexpr std::string_view kKeepMegabytesBox = "编辑框_保留容量";

// The whole number in the box, 0 for an empty box; nullopt when it is negative, not whole or
// above `most` (the box takes digits and "-" only, so a text is a number or nothing).
std::optional<int> wholeNumberIn(std::string_view box, int most) {
    const double value = platform::textToNumber(ui::controlText(S, box));
    if (!(value >= 0) || value > most || value != std::floor(value))
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

void fillUnattendedPage() {
    const CaptureSettings& s = captureSettings();
    ui::setControlSelected(S, kSkipUnchanged, s.skipUnchanged);
    ui::setControlSelected(S, kDayFolders, s.dayFolders);
    ui::setControlSelected(S, kPauseWhenLocked, s.pauseWhenLocked);
    ui::setControlText(S, kKeepDaysBox, platform::numberToText(s.keepDays));
    ui::setControlText(S, kKeepMegabytesBox, platform::numberToText(s.keepMegabytes));
}

bool applyUnattendedPage() {
    const std::optional<int> days = wholeNumberIn(kKeepDaysBox, kMostKeepDays);
    if (!days) {
        platform::showMessage(kKeepDaysMessage, 0, kNoteCaption);
        return false;
    }
    const std::optional<int> megabytes = wholeNumberIn(kKeepMegabytesBox, kMostKeepMegabytes);
    if (!megabytes) {
        platform::showMessage(kKeepMegabytesMessage, 0, kNoteCaption);
        return false;
    }
    CaptureSettings& s = captureSettings();
    const bool limitsChanged = s.keepDays != *days || s.keepMegabytes != *megabytes;
    s.skipUnchanged = ui::controlSelected(S, kSkipUnchanged);
    settings::writeNumber(Option::SkipUnchanged, s.skipUnchanged ? 1 : 0);
    s.keepDays = *days;
    settings::writeNumber(Option::KeepDays, s.keepDays);
    s.keepMegabytes = *megabytes;
    settings::writeNumber(Option::KeepMegabytes, s.keepMegabytes);
    s.dayFolders = ui::controlSelected(S, kDayFolders);
    settings::writeNumber(Option::DayFolders, s.dayFolders ? 1 : 0);
    s.pauseWhenLocked = ui::controlSelected(S, kPauseWhenLocked);
    settings::writeNumber(Option::PauseWhenLocked, s.pauseWhenLocked ? 1 : 0);
    // Tighter limits hold at once, not only from the next scheduled capture on.
    if (limitsChanged)
        capture::checkRetention(ui::controlText(ui::kMainWindow, "透明标签1"));
    return true;
}

}  // namespace lumora::settingswin
