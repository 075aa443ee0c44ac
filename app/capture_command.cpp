#include "app/capture_command.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/capture_requests.h"
#include "app/event_loop.h"
#include "app/load_settings.h"
#include "capture/capture_and_save.h"
#include "capture/loss_report.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/keys.h"
#include "platform/sound.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"

namespace lumora::app {

namespace {

using namespace std::chrono_literals;

// How long an instance that is there but has no name on the bus yet (it is starting) gets.
constexpr auto kAnswerWait = 3s;
// A shutter sound still playing is heard to its end, but a stuck device never holds the command.
constexpr auto kSoundWait = 3s;

int saved(const std::string& path) {
    std::fprintf(stdout, "%s\n", path.c_str());
    std::fflush(stdout);
    return 0;
}

int failed(const std::string& cause) {
    std::fprintf(stderr, "lumora: %s\n", cause.c_str());
    return 1;
}

// No instance: this process is the instance for one capture, with the options and the capture
// folder a started one would have, and ends as one would (the counter kept at shut-down too).
int captureHere(CaptureTarget target) {
    loadSettingsQuietly();
    // The command prints its own line about a lost capture; the program's report would repeat it.
    capture::setLossReportOnStandardError(false);
    const platform::WindowHandle window =
        target == CaptureTarget::Window ? platform::foregroundWindow() : 0;
    int code = -1;
    capture::captureAndSave(
        window, CaptureKind::Manual, [&code](const capture::CaptureOutcome& outcome) {
            code = outcome.saved ? saved(outcome.path)
                                 : failed("the capture was not saved: " + outcome.error);
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

}  // namespace

bool instanceRunning() {
    switch (platform::takeInstanceLock(platform::LockHolder::Command)) {
        case platform::InstanceLock::Held:
            // Ours now, until this process ends: no instance runs on this store, and none can
            // start and take numbers while the command captures. A second command started
            // at the same moment waits for it and then captures in turn.
            return false;
        case platform::InstanceLock::HeldByAnother:
        case platform::InstanceLock::HeldByCommand:
            return true;
        case platform::InstanceLock::Unavailable:
            break;
    }
    // Nowhere to keep the lock: live processes of this user under this name stand in for it.
    const std::string own = platform::programFileName();
    const auto self = currentProcessId();
    const std::uint32_t user = platform::currentUserId();
    for (const platform::ProcessRecord& p : platform::listProcesses()) {
        if (!own.empty() && !p.zombie && p.userId == user && p.executableName == own &&
            static_cast<std::int64_t>(p.processId) != self)
            return true;
    }
    return false;
}

int runCaptureCommand(const Command& command, int argc, char** argv) {
    EventLoop loop(EventLoop::Kind::Console, argc, argv);
    // The wait comes first, so the instance that captures is the one running by then and the
    // window captured is the one that has the focus by then.
    std::this_thread::sleep_for(std::chrono::seconds(command.delaySeconds));

    const auto giveUp = std::chrono::steady_clock::now() + kAnswerWait;
    for (;;) {
        if (!instanceRunning())
            return captureHere(command.target);
        const RequestAnswer answer = requestCapture(command.target);
        switch (answer.status) {
            case RequestAnswer::Saved:
                return saved(answer.text);
            case RequestAnswer::NotSaved:
                return failed("the capture was not saved: " + answer.text);
            case RequestAnswer::NoBus:
                // Capturing beside the instance would race it for the running number.
                return failed(
                    "Lumora is running, but the session bus cannot be reached to ask it"
                    " for the capture (" +
                    answer.text + ")");
            case RequestAnswer::Failed:
                return failed("the running Lumora did not make the capture: " + answer.text);
            case RequestAnswer::Gone:
                break;
        }
        // Not on the bus yet (still starting) or just ending: ask again, or capture here once
        // it has gone.
        if (std::chrono::steady_clock::now() >= giveUp)
            return failed(std::string("Lumora is running, but does not answer on the session bus"
                                      " under ") +
                          kBusName);
        std::this_thread::sleep_for(50ms);
    }
}

}  // namespace lumora::app
