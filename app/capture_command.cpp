#include "app/capture_command.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/capture_requests.h"
#include "app/event_loop.h"
#include "platform/files.h"
#include "platform/instance_lock.h"

namespace lumora::app {

namespace {

using namespace std::chrono_literals;

// How long an instance that is there but cannot be asked yet (it is starting) gets: also what
// one that can never be asked (on another desktop) costs a script before it hears so.
constexpr auto kAnswerWait = 1200ms;

}  // namespace

int reportSaved(const std::string& path) {
    std::fprintf(stdout, "%s\n", path.c_str());
    std::fflush(stdout);
    return 0;
}

int reportFailed(const std::string& cause) {
    std::fprintf(stderr, "lumora: %s\n", cause.c_str());
    return 1;
}

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

int runCaptureCommand(const Command& command, int argc, char** argv, CaptureHere here) {
    // No application object yet: a request the running instance makes costs this process only
    // its start and one call. The wait comes first, so the instance that captures is the one
    // running by then and the window captured is the one that has the focus by then.
    std::this_thread::sleep_for(std::chrono::seconds(command.delaySeconds));

    const auto giveUp = std::chrono::steady_clock::now() + kAnswerWait;
    for (;;) {
        if (!instanceRunning())
            return here(command.target, argc, argv);
        const RequestAnswer answer = requestCapture(command.target);
        switch (answer.status) {
            case RequestAnswer::Saved:
                return reportSaved(answer.text);
            case RequestAnswer::NotSaved:
                return reportFailed("the capture was not saved: " + answer.text);
            case RequestAnswer::NoBus:
                // Capturing beside the instance would race it for the running number.
                return reportFailed("Lumora is running, but cannot be asked for the capture " +
                                    whereRequestsGo() + " (" + answer.text + ")");
            case RequestAnswer::Failed:
                return reportFailed("the running Lumora did not make the capture: " + answer.text);
            case RequestAnswer::Gone:
                break;
        }
        // Not reachable yet (still starting) or just ending: ask again, or capture here once
        // it has gone.
        if (std::chrono::steady_clock::now() >= giveUp)
            return reportFailed("Lumora is running, but does not answer " + whereRequestsGo());
        std::this_thread::sleep_for(50ms);
    }
}

}  // namespace lumora::app
