#include "platform/termination.h"

namespace lumora::platform {

// Windows ends a program at sign-out through its windows (WM_QUERYENDSESSION, WM_ENDSESSION),
// not through signals; nothing is caught here, and callers keep their default ending.
bool onTerminationRequest(std::function<void(int signal)>) {
    return false;
}

}  // namespace lumora::platform
