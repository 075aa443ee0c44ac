#pragma once
// The program's hidden message window on the GUI thread: tasks posted from other threads,
// repeating timers, and the tray icon's notifications arrive there.

#include <windows.h>

#include <functional>

namespace lumora::platform::win32 {

// Creates the window; called once on the GUI thread before anything posts or starts a timer.
void startMessageWindow();
HWND messageWindow();

// Messages of the tray icon (see shell.cpp) reach this handler, on the GUI thread.
inline constexpr UINT kTrayMessage = WM_APP + 1;
void setTrayMessageHandler(std::function<void(WPARAM, LPARAM)> handler);
// WM_WTSSESSION_CHANGE (see screen_lock.cpp) reaches this handler with its WTS_* code.
void setSessionChangeHandler(std::function<void(WPARAM)> handler);

// The session ends (WM_ENDSESSION after every program agreed): `handler` runs within that
// message, once, on the GUI thread.
void setSessionEndHandler(std::function<void()> handler);

// Translates and dispatches one message; what every loop of the program does.
void dispatchMessage(MSG& message);

// Processes the messages of this thread until `deadline` (GetTickCount64) passes or a quit
// message arrives; the quit message is put back for the loop that waits for it.
void processMessagesUntil(ULONGLONG deadline);

}  // namespace lumora::platform::win32
