#include "platform/screen_lock.h"

// Until the desktops' own notifications are listened to, the screen counts as never locked.
namespace lumora::platform {

void watchScreenLock() {}

bool screenLocked() {
    return false;
}

}  // namespace lumora::platform
