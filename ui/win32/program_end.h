#pragma once
// For the program's entry on Windows. Its message loop ends with WM_QUIT (posted when the last
// window has been destroyed, or by the program itself); windows still open then are destroyed
// here, raising Destroying, as the Qt runtime does when its loop ends.

namespace lumora::ui {

void destroyOpenWindows();

}  // namespace lumora::ui
