#pragma once
// The one way the logic reaches windows and controls: by window name and control name, one
// property at a time. Windows are created from their definitions (ui/windows.h) on Qt Widgets;
// nothing outside ui/ and platform/ touches a widget. GUI thread only. Reading a property of a
// window or control that does not exist gives a zero value; writing it does nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "ui/model.h"

namespace lumora::ui {

using platform::WindowHandle;

// Creates the window from its definition (raising Created after every control exists) and
// shows it. Modeless: returns its handle at once. Modal: returns when the window has been
// closed (0). Opening a window that is already open brings it forward and returns its handle.
WindowHandle openWindow(std::string_view window);
void openWindowModal(std::string_view window);
// Requests the close; the window is destroyed (raising Destroying) after the current handler
// has returned.
void closeWindow(std::string_view window);
bool isWindowOpen(std::string_view window);
// Whether any window of the program is open (a loop started after the last one was destroyed
// would wait for nothing).
bool anyWindowOpen();
// The X window id of the open window, 0 when not open.
WindowHandle windowHandle(std::string_view window);
// Repaints the window now.
void repaintWindow(std::string_view window);

bool windowVisible(std::string_view window);
void setWindowVisible(std::string_view window, bool visible);
// Shown, restored when minimised, raised and given the focus (as far as the window manager
// lets a program take it).
void bringWindowToFront(std::string_view window);
// Minimised to the taskbar or dock, where it stays (a hidden window leaves it).
void minimizeWindow(std::string_view window);
bool windowMinimized(std::string_view window);
// Screen position of the window's outer rectangle.
int windowLeft(std::string_view window);
int windowTop(std::string_view window);
void setWindowAlwaysOnTop(std::string_view window, bool onTop);
// The outer rectangles of every window of the program now on the screen (windows, menus,
// balloons, the splash), in screen pixels: what a capture may show of the program itself.
std::vector<platform::ScreenRect> shownWindowRects();

// Caption of buttons, checkboxes, radios and labels; text of edit boxes.
std::string controlText(std::string_view window, std::string_view control);
void setControlText(std::string_view window, std::string_view control, std::string_view text);
// The visible flag as last written (a control on a page that is not current may have its flag
// set while not shown).
bool controlVisible(std::string_view window, std::string_view control);
void setControlVisible(std::string_view window, std::string_view control, bool visible);
bool controlDisabled(std::string_view window, std::string_view control);
void setControlDisabled(std::string_view window, std::string_view control, bool disabled);
// Checkboxes and radios; writing changes only that control.
bool controlSelected(std::string_view window, std::string_view control);
void setControlSelected(std::string_view window, std::string_view control, bool selected);
// Timers: negative counts as 0; the same value keeps the phase; a new value restarts so the
// first tick comes one full interval later; 0 stops.
int timerInterval(std::string_view window, std::string_view control);
void setTimerInterval(std::string_view window, std::string_view control, int milliseconds);
// Transparent labels, 0x00BBGGRR.
Colour textColour(std::string_view window, std::string_view control);
void setTextColour(std::string_view window, std::string_view control, Colour colour);
// Tab controls.
int currentPage(std::string_view window, std::string_view control);
void setCurrentPage(std::string_view window, std::string_view control, int page);

// Pops up the top-level menu `menuCaption` of the window's menu definition at the cursor moved
// by (3, 3); a given x or y replaces that coordinate. Chosen items raise Chosen.
void popupMenu(std::string_view window, std::string_view menuCaption,
               std::optional<int> x = std::nullopt, std::optional<int> y = std::nullopt);

// Shows the balloon control's tip pointing at screen point (x, y); it stays until the next
// mouse button, wheel or key press in any window of the program (or, with autoHide, after its
// display time). imageIndex -1: text only. False when the control does not exist.
bool showBalloonTip(std::string_view window, std::string_view balloon, int x, int y,
                    std::string_view text, int imageIndex = -1, bool autoHide = false);
// Whether a balloon is currently shown (for callers and tests).
bool balloonShown();

// The program ends when the last of its windows has been destroyed (closed by the logic, by
// its close box or Esc), not when the last one is hidden: a hidden main window with its tray
// icon keeps it running. On by default; tests that open and close windows may switch it off.
void quitWhenLastWindowDestroyed(bool quit);

}  // namespace lumora::ui
