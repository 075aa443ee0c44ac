#include "platform/termination.h"

#include "platform/win32/message_window.h"

namespace lumora::platform {

// Windows ends a program at sign-out and shut-down through its top-level windows, not through
// signals: the hidden message window answers WM_QUERYENDSESSION with yes, and WM_ENDSESSION
// ends the program within the message, since the process may be gone once it is answered.
bool onTerminationRequest(std::function<void(int signal)> requested,
                          std::function<void()> finishNow) {
    win32::setSessionEndHandler(
        [requested = std::move(requested), finishNow = std::move(finishNow)] {
            requested(0);
            if (finishNow)
                finishNow();
        });
    return true;
}

}  // namespace lumora::platform
