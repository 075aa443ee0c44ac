#include "app/startup.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/bindings.h"
#include "app/capture_command.h"
#include "app/capture_requests.h"
#include "app/command_line.h"
#include "app/event_loop.h"
#include "app/load_settings.h"
#include "app/main_window.h"
#include "assets/assets.h"
#include "capture/capture_and_save.h"
#include "capture/retention.h"
#include "capture/trigger.h"
#include "platform/instance_lock.h"
#include "platform/screen_lock.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/termination.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {

namespace {

struct ProcessState {
    bool startedUp = false;  // the guard let this instance run and loading began
    bool ending = false;
    int exitCode = 0;
    platform::WindowHandle trayOwner = 0;
};

ProcessState& state() {
    static ProcessState instance;
    return instance;
}

void releaseSettingsTexts() {
    CaptureSettings& s = captureSettings();
    s.customPrefix.clear();
    s.customPrefix.shrink_to_fit();
    s.timedCaptureTimes.clear();
    s.timedCaptureTimes.shrink_to_fit();
}

// What follows the main loop: the windows still open have their destroy handlers run (the main
// window's stores N), and the captures taken before the end are written out and told. Once,
// whether the loop ended or the session ends around it.
void closeProgram() {
    static bool closed = false;
    if (std::exchange(closed, true))
        return;
    for (std::string_view window : {ui::kSettingsWindow, ui::kLogoWindow, ui::kMainWindow})
        ui::closeWindow(window);
    flushPostedEvents();
    capture::stopWatchingKeys();
    // A portal's picture asked for before the end still comes, and its file still goes.
    capture::awaitPendingPictures(5000);
    capture::finishPendingCaptures();
    platform::stopAllSounds();
}

void removeTrayIcon() {
    if (state().trayOwner == 0)
        return;
    platform::setTrayIcon(state().trayOwner);
    state().trayOwner = 0;
}

}  // namespace

bool anotherInstanceRunning(std::span<const platform::ProcessRecord> processes,
                            std::string_view ownName, std::uint32_t ownUser,
                            const std::function<bool(std::uint32_t pid)>& isCommand) {
    if (ownName.empty())
        return false;
    int count = 0;
    for (const platform::ProcessRecord& p : processes) {
        if (!p.zombie && p.userId == ownUser && p.executableName == ownName &&
            !(isCommand && isCommand(p.processId)) && ++count >= 2)
            return true;
    }
    return false;
}

bool anotherInstanceRunning() {
    using namespace std::chrono_literals;
    // A one-off command ends within its own cap (a capture, then at most a few seconds of
    // shutter sound); a start that meets one waits this long for it.
    const auto giveUp = std::chrono::steady_clock::now() + 6s;
    const std::string ownName = platform::programFileName();
    for (;;) {
        bool commandRuns = false;
        auto isCommand = [&commandRuns](std::uint32_t pid) {
            const std::vector<std::string> args = platform::processArguments(pid);
            const std::vector<std::string_view> options(
                args.begin() + std::min<std::size_t>(args.size(), 1), args.end());
            const bool command =
                !args.empty() && parseCommandLine(options).action == CommandAction::Capture;
            commandRuns = commandRuns || command;
            return command;
        };
        if (anotherInstanceRunning(platform::listProcesses(), ownName, platform::currentUserId(),
                                   isCommand))
            return true;
        const platform::InstanceLock lock = platform::takeInstanceLock();
        if (lock == platform::InstanceLock::HeldByAnother)
            return true;
        // Without a place for the lock a command can only be seen among the processes.
        const bool waitForCommand = lock == platform::InstanceLock::HeldByCommand ||
                                    (lock == platform::InstanceLock::Unavailable && commandRuns);
        if (!waitForCommand)
            return false;
        if (std::chrono::steady_clock::now() >= giveUp)
            return lock == platform::InstanceLock::HeldByCommand;
        std::this_thread::sleep_for(50ms);
    }
}

void onMainWindowCreated(const ui::EventArgs&) {
    if (anotherInstanceRunning()) {
        // Only the box belongs on the screen: this instance's window never gets used.
        ui::setWindowVisible(ui::kMainWindow, false);
        // The box waits with events processed, and the key timer already runs: a key pressed
        // meanwhile would make this unloaded instance capture as number 0 and store N = 0 over
        // the running instance's counter. The running instance takes that capture.
        ui::setTimerInterval(ui::kMainWindow, "时钟1", 0);
        // The person started the program to see it: the running instance brings its window
        // back, which may be hidden or minimised where no tray shows its icon.
        if (!askRunningInstanceToShowWindow())
            std::fprintf(stderr, "lumora: the running instance did not show its window\n");
        platform::showMessage("我已经运行了(*^__^*) ", 0, "您好！");
        endProgram(0);
        return;
    }
    state().startedUp = true;
    // Before loading: the bus delivers requests only when events are processed, which first
    // happens in the splash, after the counter is read, as for the keys. Without a session bus
    // the program runs on and only requests from outside are lost to it.
    if (const std::string why = offerCaptureRequests(); !why.empty())
        std::fprintf(stderr, "lumora: captures cannot be requested from other programs: %s\n",
                     why.c_str());
    // Before the schedules start, so that their first tick already knows a locked screen.
    platform::watchScreenLock();
    // Captures may run during the splash; they read the folder from the label, which until
    // now holds its placeholder caption and would put the file under a made-up name.
    ui::setControlText(ui::kMainWindow, "透明标签1", platform::defaultCaptureFolder());
    loadSettings();
    // The splash processes events: the program may have been ended or its window closed.
    if (state().ending || !ui::isWindowOpen(ui::kMainWindow))
        return;
    state().trayOwner = ui::windowHandle(ui::kMainWindow);
    platform::setTrayIcon(state().trayOwner, assets::find("lumora.ico"), kProgramName);
    ui::setControlText(ui::kMainWindow, "透明标签1", platform::defaultCaptureFolder());
    // Hidden files of captures a killed earlier run was writing.
    capture::tidyCaptureFolder(platform::defaultCaptureFolder());
    // Scheduled captures beyond the days or megabytes to keep, from earlier runs.
    capture::checkRetention(platform::defaultCaptureFolder());
}

void onMainWindowDestroying(const ui::EventArgs&) {
    // The icon belongs to the window: closing the window by its close box or Esc ends the
    // program too, and a host must not keep showing an icon nobody answers.
    removeTrayIcon();
    // A second instance stopped by the guard never loaded the counter; writing its zero would
    // overwrite the number the running instance keeps.
    if (!state().startedUp)
        return;
    settings::writeShutdownCounter(captureSettings().captureCounter);
}

void endProgram(int code) {
    removeTrayIcon();
    state().ending = true;
    state().exitCode = code;
    // Ends the loops that run now, nested ones (a menu, a pause of the splash) included. When
    // this happens during start-up, before the main loop runs, runMainLoop does not start it.
    exitEventLoops(code);
}

bool programEnding() {
    return state().ending;
}

int runProgram(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    const Command command = parseCommandLine(args);
    if (const int code = answerFromCommandLine(command); code >= 0)
        return code;
    if (command.action == CommandAction::Capture)
        return runCaptureCommand(command, argc, argv);

    EventLoop loop(EventLoop::Kind::Gui, argc, argv);
    // Log-out, shut-down and Ctrl+C end the program as 退出 does: the captures in flight are
    // written, N is stored and the tray icon goes; a second signal ends it at once.
    platform::onTerminationRequest([](int) { endProgram(0); }, &closeProgram);

    std::error_code ignored;
    std::filesystem::current_path(platform::programDirectory(), ignored);
    // The record must exist before the clean-up is registered, so it is destroyed after it.
    captureSettings();
    std::atexit(&releaseSettingsTexts);

    ui::installBindings(ui::programBindings());
    ui::openWindow(ui::kMainWindow);
    const int code = runMainLoop();
    closeProgram();
    return code;
}

int runMainLoop() {
    // The main window may already be gone (Esc during the logo): with no window left nothing
    // would ever end the loop.
    const bool running = !state().ending && ui::isWindowOpen(ui::kMainWindow);
    const int loopCode = running ? EventLoop::run() : 0;
    // Windows still open have their destroy handlers run: those the end of the loop destroyed,
    // and those left when start-up ended the program before the loop ran.
    for (std::string_view window : {ui::kSettingsWindow, ui::kLogoWindow, ui::kMainWindow})
        ui::closeWindow(window);
    flushPostedEvents();
    return state().ending ? state().exitCode : loopCode;
}

}  // namespace lumora::app
