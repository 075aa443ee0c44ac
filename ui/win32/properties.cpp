// The control-level half of the property interface, pop-up menus and balloon tips.

// The common controls need the base Windows types first.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/win32/state.h"

namespace lumora::ui::win32 {

namespace {

// How long an auto-hiding balloon stays, and how wide its text may run before it wraps.
constexpr int kBalloonMilliseconds = 5000;
constexpr int kBalloonTextWidth = 340;

bool isButtonLike(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::Checkbox ||
           kind == ControlKind::RadioButton;
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)), L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()) + 1);
    text.resize(static_cast<std::size_t>(std::max(0, copied)));
    return text;
}

HWND balloonWindow() {
    RuntimeState& runtime = state();
    if (runtime.balloon != nullptr)
        return runtime.balloon;
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_BALLOON | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, runtime.helper, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (tip == nullptr)
        return nullptr;
    TTTOOLINFOW tool{};
    // The older structure size: understood by every version of the common controls.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tool.hwnd = runtime.helper;
    tool.uId = 1;
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, px(kBalloonTextWidth, systemDpi()));
    SendMessageW(tip, WM_SETFONT, reinterpret_cast<WPARAM>(defaultGuiFont(systemDpi())), FALSE);
    runtime.balloon = tip;
    return tip;
}

TTTOOLINFOW balloonTool() {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = state().helper;
    tool.uId = 1;
    return tool;
}

}  // namespace

void hideBalloon() {
    RuntimeState& runtime = state();
    if (!runtime.balloonShown || runtime.balloon == nullptr)
        return;
    runtime.balloonShown = false;
    TTTOOLINFOW tool = balloonTool();
    SendMessageW(runtime.balloon, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    showBalloonTimer(false, 0);
}

}  // namespace lumora::ui::win32

namespace lumora::ui {

using namespace win32;

std::string controlText(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr)
        return {};
    switch (state->def->kind) {
        case ControlKind::Button:
        case ControlKind::Checkbox:
        case ControlKind::RadioButton:
        case ControlKind::Label:
        case ControlKind::TransparentLabel:
            return state->text;
        case ControlKind::EditBox:
            return state->hwnd != nullptr ? narrow(windowText(state->hwnd)) : std::string();
        default:
            return {};
    }
}

void setControlText(std::string_view window, std::string_view control, std::string_view text) {
    WindowState* owner = findWindow(window);
    ControlState* state = owner != nullptr ? owner->control(control) : nullptr;
    if (state == nullptr)
        return;
    const ControlKind kind = state->def->kind;
    if (kind == ControlKind::TransparentLabel) {
        setLabelText(*owner, *state, text);
        return;
    }
    if (state->hwnd == nullptr)
        return;
    if (isButtonLike(kind)) {
        state->text = std::string(text);
        SetWindowTextW(state->hwnd, escapeMnemonic(widen(text)).c_str());
    } else if (kind == ControlKind::Label) {
        state->text = std::string(text);
        SetWindowTextW(state->hwnd, withWindowsLineEnds(widen(text)).c_str());
    } else if (kind == ControlKind::EditBox) {
        setEditText(*state, text);
    }
}

bool controlVisible(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->visibleFlag;
}

void setControlVisible(std::string_view window, std::string_view control, bool visible) {
    WindowState* owner = findWindow(window);
    ControlState* state = owner != nullptr ? owner->control(control) : nullptr;
    if (state != nullptr)
        setControlVisibleFlag(*owner, *state, visible);
}

bool controlDisabled(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->disabled;
}

void setControlDisabled(std::string_view window, std::string_view control, bool disabled) {
    ControlState* state = findControl(window, control);
    if (state == nullptr)
        return;
    state->disabled = disabled;
    if (state->hwnd != nullptr)
        EnableWindow(state->hwnd, disabled ? FALSE : TRUE);
}

bool controlSelected(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || state->hwnd == nullptr)
        return false;
    if (state->def->kind != ControlKind::Checkbox && state->def->kind != ControlKind::RadioButton)
        return false;
    return SendMessageW(state->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setControlSelected(std::string_view window, std::string_view control, bool selected) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || state->hwnd == nullptr)
        return;
    if (state->def->kind != ControlKind::Checkbox && state->def->kind != ControlKind::RadioButton)
        return;
    // Only this control: no group rule and no Clicked from code.
    SendMessageW(state->hwnd, BM_SETCHECK, selected ? BST_CHECKED : BST_UNCHECKED, 0);
}

int timerInterval(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->def->kind == ControlKind::Timer ? state->interval : 0;
}

void setTimerInterval(std::string_view window, std::string_view control, int milliseconds) {
    WindowState* owner = findWindow(window);
    ControlState* state = owner != nullptr ? owner->control(control) : nullptr;
    if (state != nullptr && state->def->kind == ControlKind::Timer)
        setInterval(*owner, *state, milliseconds);
}

Colour textColour(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || state->def->kind != ControlKind::TransparentLabel)
        return 0;
    return state->colour;
}

void setTextColour(std::string_view window, std::string_view control, Colour colour) {
    WindowState* owner = findWindow(window);
    ControlState* state = owner != nullptr ? owner->control(control) : nullptr;
    if (state == nullptr || state->def->kind != ControlKind::TransparentLabel)
        return;
    setLabelColour(*owner, *state, colour & 0x00FFFFFF);
}

int currentPage(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || state->hwnd == nullptr || state->def->kind != ControlKind::TabControl) {
        return 0;
    }
    return static_cast<int>(SendMessageW(state->hwnd, TCM_GETCURSEL, 0, 0));
}

void setCurrentPage(std::string_view window, std::string_view control, int page) {
    WindowState* owner = findWindow(window);
    ControlState* state = owner != nullptr ? owner->control(control) : nullptr;
    if (state == nullptr || state->hwnd == nullptr || state->def->kind != ControlKind::TabControl) {
        return;
    }
    if (page < 0 || page >= static_cast<int>(SendMessageW(state->hwnd, TCM_GETITEMCOUNT, 0, 0)))
        return;
    // Chosen from code the tab control tells nobody: the page rule is applied here.
    SendMessageW(state->hwnd, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    applyPageRule(*owner, state->def->name);
}

void popupMenu(std::string_view window, std::string_view menuCaption, std::optional<int> x,
               std::optional<int> y) {
    WindowState* owner = findWindow(window);
    if (owner == nullptr || owner->hwnd == nullptr)
        return;
    const std::span<const MenuItemDef> items = owner->def->menu;
    auto top = std::find_if(items.begin(), items.end(), [menuCaption](const MenuItemDef& item) {
        return item.level == 0 && item.caption == menuCaption;
    });
    if (top == items.end())
        return;
    HMENU menu = CreatePopupMenu();
    std::vector<std::string_view> captions;
    for (auto it = top + 1; it != items.end() && it->level > 0; ++it) {
        if (it->hidden)
            continue;
        captions.push_back(it->caption);
        AppendMenuW(menu,
                    MF_STRING | (it->disabled ? MF_GRAYED : 0u) | (it->ticked ? MF_CHECKED : 0u),
                    captions.size(), escapeMnemonic(widen(it->caption)).c_str());
    }
    POINT position{};
    GetCursorPos(&position);
    position.x += 3;
    position.y += 3;
    if (x)
        position.x = *x;
    if (y)
        position.y = *y;
    const std::string_view windowName = owner->def->name;
    HWND hwnd = owner->hwnd;
    // The menu of a hidden window (the tray's) closes when clicked away from only if its
    // window is in the foreground.
    SetForegroundWindow(hwnd);
    const auto chosen = static_cast<std::size_t>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN,
                       position.x, position.y, 0, hwnd, nullptr));
    PostMessageW(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
    // The handler runs once the menu has closed.
    if (chosen >= 1 && chosen <= captions.size())
        dispatch(windowName, captions[chosen - 1], Event::Chosen);
}

bool showBalloonTip(std::string_view window, std::string_view balloon, int x, int y,
                    std::string_view text, int /*imageIndex: no image list in this program*/,
                    bool autoHide) {
    const ControlState* control = findControl(window, balloon);
    if (control == nullptr || control->def->kind != ControlKind::BalloonTip)
        return false;
    HWND tip = balloonWindow();
    if (tip == nullptr)
        return false;
    // A new showing replaces the one before.
    hideBalloon();
    std::wstring value = withWindowsLineEnds(widen(text));
    TTTOOLINFOW tool = balloonTool();
    tool.lpszText = value.data();
    SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
    SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    win32::state().balloonShown = true;
    showBalloonTimer(autoHide, kBalloonMilliseconds);
    return true;
}

bool balloonShown() {
    return win32::state().balloonShown;
}

}  // namespace lumora::ui
