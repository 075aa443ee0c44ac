// The capture command's own capture, when no instance runs.
#include <chrono>
#include <string>
#include <thread>

#include "app/capture_command.h"
#include "app/capture_requests.h"
#include "app/event_loop.h"
#include "app/load_settings.h"
#include "capture/capture_and_save.h"
#include "capture/loss_report.h"
#include "platform/keys.h"
#include "platform/sound.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"

namespace lumora::app {

namespace {

using namespace std::chrono_literals;

// A shutter sound still playing is heard to its end, but a stuck device never holds the command.
constexpr auto kSoundWait = 3s;

}  // namespace

// No instance: this process is the instance for one capture, with the options and the capture
// folder a started one would have, and ends as one would (the counter kept at shut-down too).
int captureHere(CaptureTarget target, int argc, char** argv) {
    // Only a process that captures itself needs the application object (the event loop of a
    // portal's answer, the session bus of the desktop's services).
    EventLoop loop(EventLoop::Kind::Console, argc, argv);
    loadSettingsQuietly();
    // The command prints its own line about a lost capture; the program's report would repeat it.
    capture::setLossReportOnStandardError(false);
    const platform::WindowHandle window =
        target == CaptureTarget::Window ? platform::foregroundWindow() : 0;
    if (target == CaptureTarget::Window && window == 0)
        return reportFailed(std::string("the capture was not saved: ") + kNoFocusedWindow);
    int code = -1;
    capture::captureAndSave(
        window, CaptureKind::Manual, [&code](const capture::CaptureOutcome& outcome) {
            code = outcome.saved ? reportSaved(outcome.path)
                                 : reportFailed("the capture was not saved: " + outcome.error);
            exitEventLoops(code);
        });
    // The pipeline may finish later, on the event loop.
    if (code < 0)
        EventLoop::run();
    capture::finishPendingCaptures();
    settings::writeShutdownCounter(captureSettings().captureCounter);
    const auto soundEnd = std::chrono::steady_clock::now() + kSoundWait;
    while (platform::activeSoundCount() > 0 && std::chrono::steady_clock::now() < soundEnd)
        std::this_thread::sleep_for(20ms);
    platform::stopAllSounds();
    return code;
}

}  // namespace lumora::app
