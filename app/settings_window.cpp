// The settings window: what it shows on opening, and what pressing 立即生效 does.
#include "app/settings_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "app/settings_unattended.h"
#include "app/settings_visibility.h"
#include "assets/assets.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/text.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::settingswin {

namespace {

using settings::Option;

constexpr std::string_view S = ui::kSettingsWindow;
constexpr std::string_view M = ui::kMainWindow;

// Controls, by page.
constexpr std::string_view kBmp = "bmp模式";
constexpr std::string_view kJpg = "jpg模式";
constexpr std::string_view kPng = "png模式";
constexpr std::string_view kSoundOn = "选择框_开启音效";
constexpr std::array<std::string_view, 3> kSoundRadios = {"音效1", "音效2", "音效3"};
constexpr std::array<std::string_view, 3> kShutterClips = {"shutter1.wav", "shutter2.wav",
                                                           "shutter3.wav"};
constexpr std::string_view kLogo = "显示logo";
constexpr std::string_view kKeepSize = "原尺寸";
constexpr std::string_view kFixedSize = "自定义尺寸";
constexpr std::string_view kWidthBox = "编辑框_自定义长";
constexpr std::string_view kHeightBox = "编辑框_自定义宽";
constexpr std::string_view kFixedPrefix = "单选框_Lumora广告";
constexpr std::string_view kCurrentTime = "单选框_取现行时间";
constexpr std::string_view kCustomPrefix = "单选框_自定义命名";
constexpr std::string_view kCustomNameBox = "编辑框_自定义名";
constexpr std::string_view kTabs = "选择夹1";
constexpr std::string_view kTimedOn = "选择框_定时截图";
constexpr std::string_view kTimedActive = "选择框_定时截图_活动窗口";
constexpr std::string_view kTimesBox = "编辑框_定时";
constexpr std::string_view kIntervalOn = "选择框_间断截图";
constexpr std::string_view kIntervalActive = "选择框_间断截图_活动窗口";
constexpr std::string_view kSecondsBox = "编辑框_间时";
constexpr std::string_view kBalloon = "气球提示框1";
// Timers of the main window.
constexpr std::string_view kIntervalTimer = "时钟2";
constexpr std::string_view kTimedTimer = "时钟3";

constexpr int kSilverScheme = 3;

// The hint of a schedule checkbox: where it points relative to the settings window's top-left
// corner, and its text.
struct BalloonHint {
    std::string_view control;
    int dx;
    int dy;
    std::string_view text;
};

constexpr BalloonHint kHints[] = {
    {kTimedOn, 112, 72,
     "开启定时截图后，可以设置时间，到时软件自动保存。请使用24小时计时制（时分秒之间使用全角冒号‘"
     "：’分割）\r\n多个时间请用全角分号‘；’分割（注意不要加单引号！）"},
    {kTimedActive, 264, 72, "若勾选此项，定时截图时只对当前活动窗口截图；不勾选则全屏截图"},
    {kIntervalOn, 112, 155,
     "该功能是从设置生效后每隔一定时间截图一次，并自动保存。\r\n此功能可以用作屏幕监视.，时间单位为"
     " ‘秒’"},
    {kIntervalActive, 264, 155, "若勾选此项，间断截图时只对当前活动窗口截图；不勾选则全屏截图"},
};

bool selected(std::string_view control) {
    return ui::controlSelected(S, control);
}
void select(std::string_view control, bool on) {
    ui::setControlSelected(S, control, on);
}

// A typed number as the integer the options hold: truncated toward zero, kept inside the int
// range (a conversion of an out-of-range double is undefined), 0 for what is not a number.
int truncateToInt(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(value), lo, hi));
}

int numberIn(std::string_view control) {
    return truncateToInt(platform::textToNumber(ui::controlText(S, control)));
}

ScheduleMode scheduleMode(std::string_view activeWindowBox) {
    return selected(activeWindowBox) ? ScheduleMode::ActiveWindow : ScheduleMode::WholeScreen;
}

void fillSchedule(ScheduleMode mode, std::string_view onBox, std::string_view activeBox,
                  void (*refreshGroup)(const ui::EventArgs&)) {
    if (mode == ScheduleMode::Off) {
        select(onBox, false);
        select(activeBox, false);
        return;
    }
    select(onBox, true);
    refreshGroup({});
    select(activeBox, mode == ScheduleMode::ActiveWindow);
}

const BalloonHint* balloonHintFor(std::string_view control) {
    for (const BalloonHint& hint : kHints) {
        if (hint.control == control)
            return &hint;
    }
    return nullptr;
}

void showHint(std::string_view control) {
    const BalloonHint* hint = balloonHintFor(control);
    if (hint == nullptr)
        return;
    ui::showBalloonTip(S, kBalloon, ui::windowLeft(S) + hint->dx, ui::windowTop(S) + hint->dy,
                       hint->text, -1);
}

}  // namespace

int intervalPeriodMilliseconds(std::string_view secondsText) {
    // The whole number of seconds times 1000. Reading the text with "000" appended gives the
    // same for every well-formed number, but turns a stray minus sign inside the text ("5-3")
    // into a period of 5 ms, a flood of captures.
    const int seconds = truncateToInt(platform::textToNumber(secondsText));
    const std::int64_t period = std::int64_t{seconds} * 1000;
    return static_cast<int>(std::clamp<std::int64_t>(period, 0, std::numeric_limits<int>::max()));
}

void onCreated(const ui::EventArgs&) {
    platform::applyControlScheme(kSilverScheme);
    const CaptureSettings& s = captureSettings();

    select(kJpg, s.imageEngine == ImageEngine::Jpg);
    select(kPng, s.imageEngine == ImageEngine::Png);
    select(kBmp, s.imageEngine != ImageEngine::Jpg && s.imageEngine != ImageEngine::Png);

    if (s.soundChoice >= 1 && s.soundChoice <= 3) {
        select(kSoundOn, true);
        refreshSoundGroup({});
        for (int i = 0; i < 3; ++i)
            select(kSoundRadios[i], s.soundChoice == i + 1);
    } else {
        select(kSoundOn, false);
        refreshSoundGroup({});
    }

    if (s.showLogo)
        select(kLogo, true);

    if (s.outputWidth == 0 && s.outputHeight == 0) {
        select(kKeepSize, true);
        select(kFixedSize, false);
    } else {
        select(kKeepSize, false);
        select(kFixedSize, true);
        refreshSizeGroup({});
        ui::setControlText(S, kWidthBox, platform::numberToText(s.outputWidth));
        ui::setControlText(S, kHeightBox, platform::numberToText(s.outputHeight));
    }

    select(kFixedPrefix, s.namingRule == NamingRule::FixedPrefix);
    select(kCurrentTime, s.namingRule == NamingRule::CurrentTime);
    select(kCustomPrefix, s.namingRule == NamingRule::CustomPrefix);
    if (s.namingRule == NamingRule::CustomPrefix) {
        refreshNamingGroup({});
        ui::setControlText(S, kCustomNameBox, s.customPrefix);
    }

    ui::setCurrentPage(S, kTabs, s.settingsTab);

    fillSchedule(s.timedCaptureMode, kTimedOn, kTimedActive, refreshTimedGroup);
    ui::setControlText(S, kTimesBox, s.timedCaptureTimes);
    fillSchedule(s.intervalCaptureMode, kIntervalOn, kIntervalActive, refreshIntervalGroup);
    if (s.intervalSeconds != 0) {
        ui::setControlText(S, kSecondsBox, platform::numberToText(s.intervalSeconds));
    }

    fillUnattendedPage();
}

void onApply(const ui::EventArgs&) {
    CaptureSettings& s = captureSettings();

    if (selected(kCustomPrefix) && ui::controlText(S, kCustomNameBox).empty()) {
        platform::showMessage(kEmptyCustomNameMessage, 0, kEmptyCustomNameCaption);
        return;
    }
    if (selected(kCustomPrefix) &&
        std::ranges::any_of(ui::controlText(S, kCustomNameBox), platform::isForbiddenInFileName)) {
        platform::showMessage(kForbiddenCustomNameMessage, 0, kEmptyCustomNameCaption);
        return;
    }

    // Each value is stored right after it is read, so a check that fails further down leaves
    // the choices above it in force, as the user sees them.
    if (selected(kBmp)) {
        settings::writeNumber(Option::Engine, 0);
        s.imageEngine = ImageEngine::Bmp;
    }
    if (selected(kJpg)) {
        settings::writeNumber(Option::Engine, 1);
        s.imageEngine = ImageEngine::Jpg;
    }
    if (selected(kPng)) {
        settings::writeNumber(Option::Engine, 2);
        s.imageEngine = ImageEngine::Png;
    }

    if (selected(kSoundOn)) {
        // With no radio selected the previous sound stays, stored and in memory.
        for (int i = 0; i < 3; ++i) {
            if (selected(kSoundRadios[i])) {
                settings::writeNumber(Option::Sound, i + 1);
                s.soundChoice = i + 1;
            }
        }
    } else {
        settings::writeNumber(Option::Sound, 0);
        s.soundChoice = 0;
    }

    s.showLogo = selected(kLogo);
    settings::writeNumber(Option::Logo, s.showLogo ? 1 : 0);

    if (selected(kKeepSize)) {
        settings::writeNumber(Option::FixedSize, 0);
        s.outputWidth = 0;
        s.outputHeight = 0;
    } else if (selected(kFixedSize)) {
        s.outputWidth = numberIn(kWidthBox);
        s.outputHeight = numberIn(kHeightBox);
        settings::writeNumber(Option::FixedSize, 1);
        settings::writeNumber(Option::Width, s.outputWidth);
        settings::writeNumber(Option::Height, s.outputHeight);
    }

    if (selected(kFixedPrefix)) {
        s.namingRule = NamingRule::FixedPrefix;
        settings::writeNumber(Option::Naming, 0);
    }
    if (selected(kCurrentTime)) {
        s.namingRule = NamingRule::CurrentTime;
        settings::writeNumber(Option::Naming, 1);
    }
    if (selected(kCustomPrefix)) {
        s.namingRule = NamingRule::CustomPrefix;
        settings::writeNumber(Option::Naming, 2);
        const std::string name = ui::controlText(S, kCustomNameBox);
        settings::writeText(Option::CustomPrefix, name);
        s.customPrefix = name;
    }

    s.settingsTab = ui::currentPage(S, kTabs);
    settings::writeNumber(Option::SettingsTab, s.settingsTab);

    if (selected(kTimedOn)) {
        const std::string times = ui::controlText(S, kTimesBox);
        if (times.empty()) {
            platform::showMessage(kEmptyTimesMessage, 0, kNoteCaption);
            return;
        }
        const ScheduleMode mode = scheduleMode(kTimedActive);
        settings::writeNumber(Option::TimedMode, static_cast<int>(mode));
        s.timedCaptureMode = mode;
        settings::writeText(Option::TimedTimes, times);
        s.timedCaptureTimes = times;
        ui::setTimerInterval(M, kTimedTimer, kTimedTickMilliseconds);
    } else {
        settings::writeNumber(Option::TimedMode, 0);
        s.timedCaptureMode = ScheduleMode::Off;
        ui::setTimerInterval(M, kTimedTimer, 0);
    }

    if (selected(kIntervalOn)) {
        const std::string seconds = ui::controlText(S, kSecondsBox);
        if (seconds.empty()) {
            platform::showMessage(kEmptyIntervalMessage, 0, kNoteCaption);
            return;
        }
        const ScheduleMode mode = scheduleMode(kIntervalActive);
        settings::writeNumber(Option::IntervalMode, static_cast<int>(mode));
        s.intervalCaptureMode = mode;
        s.intervalSeconds = truncateToInt(platform::textToNumber(seconds));
        settings::writeNumber(Option::IntervalSeconds, s.intervalSeconds);
        ui::setTimerInterval(M, kIntervalTimer, intervalPeriodMilliseconds(seconds));
    } else {
        // The timer is left running: its next tick sees the mode off and stops it.
        settings::writeNumber(Option::IntervalMode, 0);
        s.intervalCaptureMode = ScheduleMode::Off;
    }

    if (!applyUnattendedPage())
        return;

    ui::closeWindow(S);
}

void onPreviewSound(const ui::EventArgs&) {
    for (int i = 0; i < 3; ++i) {
        if (selected(kSoundRadios[i]))
            platform::playWavData(assets::find(kShutterClips[i]));
    }
}

void onTimedHover(const ui::EventArgs&) {
    showHint(kTimedOn);
}
void onTimedActiveWindowHover(const ui::EventArgs&) {
    showHint(kTimedActive);
}
void onIntervalHover(const ui::EventArgs&) {
    showHint(kIntervalOn);
}
void onIntervalActiveWindowHover(const ui::EventArgs&) {
    showHint(kIntervalActive);
}

}  // namespace lumora::settingswin
