#pragma once
// Whether the person's screen is locked or its screen saver is on, as the desktop tells it.
// Scheduled captures pause meanwhile; key presses still capture.

namespace lumora::platform {

// Starts listening to the desktop's lock notifications. GUI thread, once, at start-up; later
// calls do nothing.
void watchScreenLock();

// The last state the desktop told; cheap, GUI thread. False where the desktop tells nothing.
bool screenLocked();

}  // namespace lumora::platform
