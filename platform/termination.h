#pragma once
// Requests to end the program from outside it: log-out, shut-down, Ctrl+C in a terminal.
#include <functional>

namespace lumora::platform {

// From now on, such a request calls `requested` (with the signal's number where there is one)
// on the GUI thread, from the event loop (nested loops included), once; a second request ends
// the process at once. Needs the application object. False when the requests cannot be caught:
// they then end the process as before.
// Where the system may end the process as soon as the request has been answered (Windows, at
// the end of the session: right after WM_ENDSESSION), `finishNow` runs right after `requested`,
// within the request, and does there what the program does once its event loop has ended.
bool onTerminationRequest(std::function<void(int signal)> requested,
                          std::function<void()> finishNow = {});

}  // namespace lumora::platform
