#include "capture/schedule.h"

#include <cmath>
#include <string>

#include "capture/capture_and_save.h"
#include "platform/keys.h"
#include "platform/text.h"
#include "settings/capture_settings.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::capture {

namespace {

constexpr double kTolerance = 1e-7;
constexpr std::string_view kIntervalTimer = "时钟2";
constexpr std::string_view kTimedTimer = "时钟3";

// Written so that a part reading as NaN ("nan" is a number to the text conversion) never
// matches: a plain "differs by more than" test would let it match every second.
bool agrees(std::string_view part, int clockField) {
    return std::fabs(platform::textToNumber(part) - clockField) <= kTolerance;
}

void captureBy(ScheduleMode mode, CaptureKind kind) {
    if (mode == ScheduleMode::WholeScreen)
        captureAndSave(0, kind);
    else if (mode == ScheduleMode::ActiveWindow)
        captureAndSave(platform::foregroundWindow(), kind);
}

}  // namespace

int matchTimeList(std::string_view list, platform::DateTime clock) {
    const int hour = platform::hourOf(clock);
    const int minute = platform::minuteOf(clock);
    const int second = platform::secondOf(clock);
    int matches = 0;
    for (const std::string& entry : platform::splitText(list, kTimeListSeparator)) {
        const auto parts = platform::splitText(entry, kTimePartSeparator);
        if (parts.size() != 3)
            continue;
        if (agrees(parts[0], hour) && agrees(parts[1], minute) && agrees(parts[2], second))
            ++matches;
    }
    return matches;
}

void timedCaptureTick(const ui::EventArgs&) {
    const CaptureSettings& settings = captureSettings();
    if (settings.timedCaptureMode == ScheduleMode::Off) {
        ui::setTimerInterval(ui::kMainWindow, kTimedTimer, 0);
        return;
    }
    const int matches = matchTimeList(settings.timedCaptureTimes, platform::now());
    for (int i = 0; i < matches; ++i)
        captureBy(settings.timedCaptureMode, CaptureKind::Timed);
}

void intervalCaptureTick(const ui::EventArgs&) {
    const ScheduleMode mode = captureSettings().intervalCaptureMode;
    if (mode == ScheduleMode::Off) {
        ui::setTimerInterval(ui::kMainWindow, kIntervalTimer, 0);
        return;
    }
    captureBy(mode, CaptureKind::Interval);
}

}  // namespace lumora::capture
