#include "app/load_settings.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/splash.h"
#include "ui/windows.h"

namespace lumora::app {

namespace {

using settings::Option;

constexpr int kTimedTimerMs = 800;

// Seconds to a timer interval. A stored number too large for a millisecond interval keeps
// the longest one a timer can have instead of overflowing into a short or negative period.
int intervalMs(std::int32_t seconds) {
    const std::int64_t ms = std::int64_t{seconds} * 1000;
    return static_cast<int>(std::clamp<std::int64_t>(ms, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// The options read before the logo splash: those a capture needs (naming, format, size, sound).
void readCaptureOptions(CaptureSettings& s) {
    s.captureCounter = settings::nextCounter(settings::readNumber(Option::Counter));
    s.soundChoice = settings::decodeSound(settings::readNumber(Option::Sound));
    s.showLogo = settings::decodeLogo(settings::readNumber(Option::Logo));
    s.imageEngine = settings::decodeEngine(settings::readNumber(Option::Engine));
    const settings::OutputSize size = settings::readOutputSize();
    s.outputWidth = size.width;
    s.outputHeight = size.height;
    s.namingRule = settings::decodeNaming(settings::readNumber(Option::Naming));
    s.customPrefix = settings::readCustomPrefixFor(s.namingRule);
}

// The options read after it: the settings window's tab and the two schedules.
void readScheduleOptions(CaptureSettings& s) {
    s.settingsTab = settings::readNumber(Option::SettingsTab);
    s.timedCaptureMode = settings::decodeSchedule(settings::readNumber(Option::TimedMode));
    s.timedCaptureTimes = settings::readText(Option::TimedTimes);
    s.intervalCaptureMode = settings::decodeSchedule(settings::readNumber(Option::IntervalMode));
    s.intervalSeconds = settings::readNumber(Option::IntervalSeconds);
    s.skipUnchanged = settings::readNumber(Option::SkipUnchanged) == 1;
    s.keepDays = std::max(0, settings::readNumber(Option::KeepDays));
    s.keepMegabytes = std::max(0, settings::readNumber(Option::KeepMegabytes));
    s.dayFolders = settings::readNumber(Option::DayFolders) == 1;
    s.pauseWhenLocked = settings::readNumber(Option::PauseWhenLocked) != 0;
}

}  // namespace

void loadSettings() {
    CaptureSettings& s = captureSettings();
    s = CaptureSettings{};
    readCaptureOptions(s);

    // Runs with events processed: the key timer may capture meanwhile with the values above.
    if (s.showLogo)
        ui::playLogoSplash();

    readScheduleOptions(s);
    if (s.timedCaptureMode != ScheduleMode::Off) {
        ui::setTimerInterval(ui::kMainWindow, "时钟3", kTimedTimerMs);
    }
    if (s.intervalCaptureMode != ScheduleMode::Off) {
        ui::setTimerInterval(ui::kMainWindow, "时钟2", intervalMs(s.intervalSeconds));
    }
}

void loadSettingsQuietly() {
    CaptureSettings& s = captureSettings();
    s = CaptureSettings{};
    readCaptureOptions(s);
    readScheduleOptions(s);
}

}  // namespace lumora::app
