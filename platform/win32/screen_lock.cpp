#include "platform/screen_lock.h"

#include <windows.h>
#include <wtsapi32.h>

#include "platform/win32/message_window.h"

// The session tells its hidden message window when the workstation is locked and unlocked
// (WM_WTSSESSION_CHANGE); the screen saver is asked for at each question, which is cheap.
namespace lumora::platform {

namespace {

bool& lockedFlag() {
    static bool locked = false;
    return locked;
}

}  // namespace

void watchScreenLock() {
    static bool started = false;
    if (started || win32::messageWindow() == nullptr)
        return;
    started = true;
    win32::setSessionChangeHandler([](WPARAM change) {
        if (change == WTS_SESSION_LOCK)
            lockedFlag() = true;
        else if (change == WTS_SESSION_UNLOCK)
            lockedFlag() = false;
    });
    // Without the notification (a session service that is not running yet) the screen counts
    // as unlocked; the screen saver is still seen.
    WTSRegisterSessionNotification(win32::messageWindow(), NOTIFY_FOR_THIS_SESSION);
}

bool screenLocked() {
    BOOL saverRunning = FALSE;
    SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &saverRunning, 0);
    return lockedFlag() || saverRunning;
}

}  // namespace lumora::platform
