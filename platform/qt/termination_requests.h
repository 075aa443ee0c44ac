#pragma once
// Termination signals (platform/posix/termination_signals.h) delivered on the GUI thread.
#include <functional>

namespace lumora::platform {

// From now on, SIGTERM, SIGHUP or SIGINT calls `requested` with the signal's number on the GUI
// thread, from the event loop (nested loops included), once; a second signal ends the process
// at once. Needs the application object. False when the signals cannot be caught: they then
// end the process as before.
bool onTerminationRequest(std::function<void(int signal)> requested);

}  // namespace lumora::platform
