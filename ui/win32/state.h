#pragma once
// The Win32 runtime's own parts, shared by its files: a window built from its definition, the
// state of its controls, and the list of open windows. Nothing outside ui/win32/ includes this.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/model.h"

namespace lumora::ui::win32 {

// Messages of the runtime's own windows.
inline constexpr UINT kDestroyRequested = WM_APP + 0x40;  // closeWindow, handled later

// Control ids: WM_COMMAND and timer ids are the control's index plus this.
inline constexpr int kFirstControlId = 1000;
inline constexpr int kFirstMenuId = 100;

struct ControlState {
    const ControlDef* def = nullptr;
    // None for timers and balloon tips, nor for transparent labels: those are drawn by their
    // container (the client area or the tab control) so that overlapping ones all show.
    HWND hwnd = nullptr;
    bool visibleFlag = true;
    bool disabled = false;
    int interval = 0;   // timers
    std::string text;   // caption or text as the logic sees it (UTF-8)
    Colour colour = 0;  // transparent labels
    bool timerRunning = false;
    // Picture buttons.
    bool hovered = false;
    bool pressed = false;    // the mouse went down on it and is still held
    bool pressedIn = false;  // ... and is over it now
};

struct WindowState {
    const WindowDef* def = nullptr;
    HWND hwnd = nullptr;
    HMENU menu = nullptr;
    std::vector<ControlState> controls;
    bool modal = false;
    bool destroying = false;
    bool closeRequested = false;
    bool modalDone = false;
    HWND lastFocus = nullptr;  // the control that had the focus when the window was left
    // The dots per inch of the screen the window is on: its controls, fonts and pictures are
    // laid out for it, and laid out again when the window moves to a screen of another.
    int dpi = 96;
    // Behind the controls of tab pages: the page's colour.
    HBRUSH pageBrush = nullptr;
    COLORREF pageColour = 0;
    // Windows this modal one disabled, enabled again when it goes.
    std::vector<HWND> disabledByModal;

    std::string_view name() const { return def->name; }
    ControlState* control(std::string_view name);
    // The control at this index, or null.
    ControlState* controlAt(std::size_t index) {
        return index < controls.size() ? &controls[index] : nullptr;
    }
};

struct RuntimeState {
    std::vector<std::shared_ptr<WindowState>> windows;
    bool quitWhenLast = true;
    int modalDepth = 0;
    bool hooksInstalled = false;
    HWND helper = nullptr;  // hidden: owns windows kept out of the taskbar, and the balloon
    HWND balloon = nullptr;
    bool balloonShown = false;
};

RuntimeState& state();

// The definitions are in pixels of a 96-dpi screen; the program is aware of each screen's DPI
// (per monitor), so they are scaled to the dots of the window's screen here (the identity at
// 96 dpi). Mouse positions reported to the logic go the other way.
int px(int value, int dpi);
int unscaled(int value, int dpi);
RECT scaledRect(const Rect& rect, int dpi);
// The DPI of the screens as a whole (windows not yet placed, the balloon), and of a window.
int systemDpi();
int windowDpi(HWND hwnd);
// Lays the window's controls and fonts out for `dpi`; the window takes `suggested` (screen
// coordinates, as WM_DPICHANGED gives it) or else keeps its place at its size for that DPI.
void applyDpi(WindowState& window, int dpi, const RECT* suggested);

WindowState* findWindow(std::string_view name);
WindowState* windowOf(HWND hwnd);
ControlState* findControl(std::string_view window, std::string_view control);

// --- Text (text.cpp) ---
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);
// Texts of the definitions may carry Unix line ends; Win32 controls want "\r\n".
std::wstring withWindowsLineEnds(std::wstring_view text);
// "&" shown as itself on buttons, which would take it for a mnemonic.
std::wstring escapeMnemonic(std::wstring_view text);
// The integer mode's rule when the box loses the focus: the leading sign and digits read as a
// 64-bit number, clamped to the 32-bit range; 0 gives empty text.
std::string normaliseIntegerText(std::string_view text);

// --- Fonts (fonts.cpp) ---
// Kept for the life of the program, one per distinct definition and DPI.
HFONT fontFor(const std::optional<FontDef>& def, int dpi);
HFONT defaultGuiFont(int dpi);

// --- Controls (controls.cpp) ---
void createControls(WindowState& window);
// Places and fonts of the controls for the window's DPI, after it changed.
void layOutControls(WindowState& window);
bool shownNow(WindowState& window, const ControlState& control);
void applyPageRule(WindowState& window, std::string_view tabControl);
// The next (step 1) or previous (-1) page of the window's first tab control in view; false
// when the window has none.
bool turnPage(WindowState& window, int step);
void setControlVisibleFlag(WindowState& window, ControlState& control, bool visible);
void setInterval(WindowState& window, ControlState& control, int milliseconds);
void startTimers(WindowState& window);
void stopTimers(WindowState& window);
// WM_COMMAND from a control of the window; true when handled.
bool controlCommand(WindowState& window, int id, int code, HWND from);
// The transparent labels of `tabControl` (empty: the client area) drawn back to front.
void drawTransparentLabels(WindowState& window, HDC dc, std::string_view tabControl);
// The front-most visible, enabled transparent label of that container under the point (in
// the container's coordinates), or null.
ControlState* transparentLabelAt(WindowState& window, std::string_view tabControl, POINT point);
// Mouse events of a control (or of a transparent label through its container).
void raiseMouse(WindowState& window, const ControlState& control, UINT message, POINT inControl,
                WPARAM keys);
void clickDefault(WindowState& window);
// WM_CTLCOLOR* of a control on a tab page: the brush of the page; null for other controls.
HBRUSH pageBrush(WindowState& window, HWND control, HDC dc);
void registerControlClasses();
void setLabelText(WindowState& window, ControlState& control, std::string_view text);
void setLabelColour(WindowState& window, ControlState& control, Colour colour);
void setEditText(ControlState& control, std::string_view text);

// --- Balloon tips (properties.cpp, open_windows.cpp) ---
void hideBalloon();
// Starts (or stops) the helper's timer that hides an auto-hiding balloon.
void showBalloonTimer(bool autoHide, int milliseconds);

// --- Pictures (pictures.cpp) ---
struct Picture {
    int width = 0;
    int height = 0;
    const std::uint8_t* pixels = nullptr;  // rows from the top, B G R A
    int dpi = 96;                          // the screen it was drawn for
    explicit operator bool() const { return pixels != nullptr; }
    // Its size on a screen of `screenDpi` (its own pixels on the screen it was drawn for).
    int widthAt(int screenDpi) const { return MulDiv(width, screenDpi, dpi); }
    int heightAt(int screenDpi) const { return MulDiv(height, screenDpi, dpi); }
};
// The picture of an asset file name ("logo.jpg") for a screen of `dpi`: the copy drawn for
// 150 % or 200 % ("logo@2x.jpg") where the screen is that dense, the least dense copy at least as
// dense as the screen; empty when there is none.
Picture findPicture(std::string_view assetName, int dpi);
// Drawn at its size on a screen of `dpi`.
void drawPicture(HDC dc, const Picture& picture, int x, int y, int dpi);
void drawPictureStretched(HDC dc, const Picture& picture, RECT target);
void drawBackground(HDC dc, const WindowDef& def, RECT client, int dpi);
HICON loadIcon(std::string_view assetName, int size);

}  // namespace lumora::ui::win32
