#pragma once
// The one in-memory record of every persisted option.
#include <cstdint>
#include <string>

namespace lumora {

enum class ImageEngine { Bmp = 0, Jpg = 1, Png = 2 };
enum class NamingRule { FixedPrefix = 0, CurrentTime = 1, CustomPrefix = 2 };
enum class ScheduleMode { Off = 0, WholeScreen = 1, ActiveWindow = 2 };
// Where a capture came from; it selects the tag in the file name.
enum class CaptureKind { Manual = 0, Timed = 1, Interval = 2 };

struct CaptureSettings {
    std::int64_t captureCounter = 0;  // the number the next capture uses
    int soundChoice = 0;              // 0 none, 1..3
    bool showLogo = false;
    ImageEngine imageEngine = ImageEngine::Bmp;
    int outputWidth = 0;  // 0 and 0: keep the captured size
    int outputHeight = 0;
    NamingRule namingRule = NamingRule::FixedPrefix;
    std::string customPrefix;  // serves the settings window; captures read the store afresh
    int settingsTab = 0;
    ScheduleMode timedCaptureMode = ScheduleMode::Off;
    std::string timedCaptureTimes;
    ScheduleMode intervalCaptureMode = ScheduleMode::Off;
    int intervalSeconds = 0;
    // Unattended use: what scheduled captures keep and when they pause.
    bool skipUnchanged = false;  // a scheduled frame equal to its schedule's last one is not saved
    int keepDays = 0;            // scheduled captures older than this are removed; 0 for ever
    int keepMegabytes = 0;       // scheduled captures beyond this size in all are removed; 0 no cap
    bool dayFolders = false;     // captures go into a sub-folder per day, 2026-12-08
    bool pauseWhenLocked = true;  // no scheduled captures while the screen is locked
};

// The process-wide record, zeroed until loading fills it.
CaptureSettings& captureSettings();

}  // namespace lumora
