// The windows that are open, their window procedure, and the window-level half of the property
// interface, on plain Win32 windows.
//
// Order of creation, as on the other desktops: every control exists, the timers run and the
// window is shown before its Created event is raised, directly inside openWindow. The main
// window's Created handler runs the whole start-up (it pauses with messages processed), so the
// window must be fully usable by then; ticks that fall due during that handler are dispatched
// like any other.
//
// The message loop is the program's own (or a modal window's, below); the keys a window handles
// itself (Esc, Enter, Tab between controls) are taken from whichever loop runs by a message
// hook of this thread, so no loop needs to know about the windows.

// The common controls need the base Windows types first.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/shell.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/win32/state.h"
#include "ui/windows.h"

namespace lumora::ui::win32 {

void destroyWindowState(WindowState* window);

namespace {

constexpr wchar_t kWindowClass[] = L"LumoraWindow";
constexpr wchar_t kHelperClass[] = L"LumoraHelper";
constexpr UINT_PTR kBalloonTimer = 1;

HINSTANCE instance() {
    return GetModuleHandleW(nullptr);
}

std::shared_ptr<WindowState> sharedOf(const WindowState* window) {
    for (const auto& entry : state().windows) {
        if (entry.get() == window)
            return entry;
    }
    return nullptr;
}

void forget(const WindowState* window) {
    auto& windows = state().windows;
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [window](const std::shared_ptr<WindowState>& entry) {
                                     return entry.get() == window;
                                 }),
                  windows.end());
}

void maybeQuit() {
    RuntimeState& runtime = state();
    if (!runtime.quitWhenLast || !runtime.windows.empty())
        return;
    // Only the program's own loop is ended, never a modal window's (which ends by itself).
    if (runtime.modalDepth > 0)
        return;
    PostQuitMessage(0);
}

bool plainKey() {
    return GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_MENU) >= 0;
}

bool dismissesBalloon(UINT message) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
        case WM_NCMBUTTONDOWN:
        case WM_NCXBUTTONDOWN:
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            return true;
        default:
            return false;
    }
}

// The keys a window takes for itself. True when the message was used up.
bool windowKey(WindowState& window, const MSG& msg) {
    if (msg.message == WM_KEYDOWN && plainKey()) {
        if (msg.wParam == VK_ESCAPE && window.def->escCloses) {
            destroyWindowState(&window);
            return true;
        }
        if (msg.wParam == VK_RETURN) {
            if (window.def->enterMovesFocus) {
                if (HWND next = GetNextDlgTabItem(window.hwnd, GetFocus(), FALSE))
                    SetFocus(next);
            } else {
                clickDefault(window);
            }
            return true;
        }
    }
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages from anywhere in the window, as on a property
    // sheet (the dialog manager would take them for Tab and Shift+Tab).
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_MENU) >= 0 && turnPage(window, GetKeyState(VK_SHIFT) < 0 ? -1 : 1)) {
        return true;
    }
    // Tab and Shift+Tab between controls, Space on buttons, mnemonics.
    return IsDialogMessageW(window.hwnd, const_cast<MSG*>(&msg)) != FALSE;
}

LRESULT CALLBACK messageHook(int code, WPARAM removed, LPARAM data) {
    if (code == HC_ACTION && removed == PM_REMOVE) {
        MSG* msg = reinterpret_cast<MSG*>(data);
        if (state().balloonShown && dismissesBalloon(msg->message))
            hideBalloon();
        if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && msg->hwnd != nullptr) {
            const auto window = sharedOf(windowOf(GetAncestor(msg->hwnd, GA_ROOT)));
            if (window && !window->destroying && window->hwnd != nullptr &&
                windowKey(*window, *msg)) {
                msg->message = WM_NULL;
            }
        }
    }
    return CallNextHookEx(nullptr, code, removed, data);
}

LRESULT CALLBACK helperProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kBalloonTimer) {
        KillTimer(hwnd, kBalloonTimer);
        hideBalloon();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The program's own icon, the first in its resources, as the shell shows it: the title-bar icon
// of windows whose definitions name none.
HICON programIcon(int size) {
    static std::wstring name;
    static LPCWSTR id = nullptr;
    static bool searched = false;
    if (!searched) {
        searched = true;
        EnumResourceNamesW(
            instance(), RT_GROUP_ICON,
            [](HMODULE, LPCWSTR, LPWSTR found, LONG_PTR) -> BOOL {
                // A name (not a number) lives only as long as the enumeration: kept as text.
                if (IS_INTRESOURCE(found)) {
                    id = found;
                } else {
                    name = found;
                    id = name.c_str();
                }
                return FALSE;
            },
            0);
    }
    if (id == nullptr)
        return nullptr;
    return static_cast<HICON>(
        LoadImageW(instance(), id, IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
}

void installHooks() {
    RuntimeState& runtime = state();
    if (runtime.hooksInstalled)
        return;
    runtime.hooksInstalled = true;
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_TAB_CLASSES | ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = programIcon(GetSystemMetrics(SM_CXICON));
    windowClass.hIconSm = programIcon(GetSystemMetrics(SM_CXSMICON));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    WNDCLASSEXW helperClass{};
    helperClass.cbSize = sizeof(helperClass);
    helperClass.lpfnWndProc = helperProc;
    helperClass.hInstance = instance();
    helperClass.lpszClassName = kHelperClass;
    RegisterClassExW(&helperClass);
    runtime.helper = CreateWindowExW(WS_EX_TOOLWINDOW, kHelperClass, L"", WS_POPUP, 0, 0, 0, 0,
                                     nullptr, nullptr, instance(), nullptr);
    registerControlClasses();

    SetWindowsHookExW(WH_GETMESSAGE, messageHook, nullptr, GetCurrentThreadId());
    platform::setTrayEventSink([](platform::WindowHandle owner, int event) {
        for (const auto& window : state().windows) {
            if (!window->destroying && window->hwnd != nullptr &&
                reinterpret_cast<platform::WindowHandle>(window->hwnd) == owner) {
                const std::string_view name = window->name();
                dispatch(name, name, Event::Tray, EventArgs{event, 0, 0});
                return;
            }
        }
    });
}

void paintClient(WindowState& window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window.hwnd, &paint);
    RECT client;
    GetClientRect(window.hwnd, &client);
    // Drawn off screen first, so the labels never flicker over a bare background.
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right),
                                            std::max<LONG>(1, client.bottom));
    HGDIOBJ old = SelectObject(buffer, bitmap);
    drawBackground(buffer, *window.def, client, window.dpi);
    drawTransparentLabels(window, buffer, {});
    BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
    SelectObject(buffer, old);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(window.hwnd, &paint);
}

bool menuCommand(WindowState& window, int id) {
    const int index = id - kFirstMenuId;
    const auto items = window.def->menu;
    if (index < 0 || static_cast<std::size_t>(index) >= items.size())
        return false;
    // The menu has closed by the time its command arrives.
    dispatch(window.def->name, items[static_cast<std::size_t>(index)].caption, Event::Chosen);
    return true;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* window = static_cast<WindowState*>(create->lpCreateParams);
        window->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    auto* window = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // painted whole in WM_PAINT
        case WM_PAINT:
            paintClient(*window);
            return 0;
        case WM_COMMAND:
            if (lParam == 0 && HIWORD(wParam) == 0 && menuCommand(*window, LOWORD(wParam)))
                return 0;
            if (lParam != 0 && controlCommand(*window, LOWORD(wParam), HIWORD(wParam),
                                              reinterpret_cast<HWND>(lParam))) {
                return 0;
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == TCN_SELCHANGE) {
                if (ControlState* tab = window->controlAt(
                        static_cast<std::size_t>(header->idFrom - kFirstControlId))) {
                    applyPageRule(*window, tab->def->name);
                }
            }
            break;
        }
        case WM_TIMER: {
            ControlState* timer =
                window->controlAt(static_cast<std::size_t>(wParam - kFirstControlId));
            if (timer != nullptr && timer->def->kind == ControlKind::Timer && !window->destroying)
                dispatch(window->def->name, timer->def->name, Event::Tick);
            return 0;
        }
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN: {
            const POINT point{static_cast<short>(LOWORD(lParam)),
                              static_cast<short>(HIWORD(lParam))};
            if (ControlState* label = transparentLabelAt(*window, {}, point)) {
                const POINT inLabel{point.x - px(label->def->rect.left, window->dpi),
                                    point.y - px(label->def->rect.top, window->dpi)};
                raiseMouse(*window, *label, message, inLabel, wParam);
            }
            return 0;
        }
        case WM_SETCURSOR:
            if (reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT) {
                POINT point;
                GetCursorPos(&point);
                ScreenToClient(hwnd, &point);
                ControlState* label = transparentLabelAt(*window, {}, point);
                if (label != nullptr && label->def->cursor == Cursor::Hand) {
                    SetCursor(LoadCursorW(nullptr, IDC_HAND));
                    return TRUE;
                }
            }
            break;
        case WM_ACTIVATE:
            // Coming back, the window gives the focus to the control that had it, as a dialog
            // does, rather than keeping it itself (where Enter and Tab would start afresh).
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(hwnd, focus))
                    window->lastFocus = focus;
            } else if (window->lastFocus != nullptr && IsWindow(window->lastFocus) &&
                       IsWindowVisible(window->lastFocus) && IsWindowEnabled(window->lastFocus)) {
                SetFocus(window->lastFocus);
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            if (HBRUSH brush = pageBrush(*window, reinterpret_cast<HWND>(lParam),
                                         reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            break;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MOVE && !window->def->movable)
                return 0;
            break;
        case WM_DPICHANGED:
            // Moved to a screen of another DPI, or the screen's scale changed: the window takes
            // the rectangle Windows suggests, and its contents are laid out for the new DPI.
            applyDpi(*window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            // The close box: the window goes at once, as when Esc closes it.
            destroyWindowState(window);
            return 0;
        case kDestroyRequested:
            destroyWindowState(window);
            return 0;
        case WM_NCDESTROY:
            if (window->pageBrush != nullptr)
                DeleteObject(window->pageBrush);
            window->pageBrush = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            window->hwnd = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

using MetricsForDpi = int(WINAPI*)(int, UINT);

// A system metric (an icon's size) for a screen of `dpi`.
int metricForDpi(int metric, int dpi) {
    static const auto forDpi = reinterpret_cast<MetricsForDpi>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    if (forDpi != nullptr)
        return forDpi(metric, static_cast<UINT>(dpi));
    return MulDiv(GetSystemMetrics(metric), dpi, systemDpi());
}

// The title bar's and the task switcher's icons, at the sizes the window's screen asks for.
void setWindowIcons(WindowState& window) {
    if (window.def->icon.empty() || window.hwnd == nullptr)
        return;
    for (const auto& [which, metric] :
         {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
        if (HICON icon = loadIcon(window.def->icon, metricForDpi(metric, window.dpi))) {
            if (auto old = reinterpret_cast<HICON>(SendMessageW(window.hwnd, WM_SETICON,
                                                                static_cast<WPARAM>(which),
                                                                reinterpret_cast<LPARAM>(icon)))) {
                DestroyIcon(old);
            }
        }
    }
}

HMENU buildMenuBar(const WindowDef& def) {
    if (def.menu.empty())
        return nullptr;
    HMENU bar = CreateMenu();
    HMENU current = nullptr;
    for (std::size_t i = 0; i < def.menu.size(); ++i) {
        const MenuItemDef& item = def.menu[i];
        const std::wstring caption = escapeMnemonic(widen(item.caption));
        if (item.level == 0) {
            current = CreatePopupMenu();
            if (!item.hidden) {
                AppendMenuW(bar, MF_POPUP | (item.disabled ? MF_GRAYED : 0u),
                            reinterpret_cast<UINT_PTR>(current), caption.c_str());
            }
        } else if (current != nullptr && !item.hidden) {
            AppendMenuW(
                current,
                MF_STRING | (item.disabled ? MF_GRAYED : 0u) | (item.ticked ? MF_CHECKED : 0u),
                static_cast<UINT_PTR>(kFirstMenuId + static_cast<int>(i)), caption.c_str());
        }
    }
    return bar;
}

RECT placement(const WindowDef& def, int dpi) {
    RECT rect = scaledRect(def.rect, dpi);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (def.startPosition == 1) {
        RECT area{};
        if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
            area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        }
        const int left = area.left + (area.right - area.left - width) / 2;
        const int top = area.top + (area.bottom - area.top - height) / 2;
        rect = RECT{left, top, left + width, top + height};
    }
    return rect;
}

bool createNative(WindowState& window) {
    const WindowDef& def = *window.def;
    DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    if (def.border == 0) {
        style |= WS_POPUP;
        // Borderless windows are the fading kind (the logo): layered from the start, opaque
        // until the program sets their opacity.
        exStyle |= WS_EX_LAYERED;
    } else {
        style |= WS_CAPTION;
        if (def.controlBox)
            style |= WS_SYSMENU;
        if (def.minimizeBox)
            style |= WS_MINIMIZEBOX;
        if (def.maximizeBox)
            style |= WS_MAXIMIZEBOX;
    }
    if (def.alwaysOnTop)
        exStyle |= WS_EX_TOPMOST;
    // A window owned by a hidden one has no taskbar button.
    HWND owner = nullptr;
    if (def.shownInTaskbar)
        exStyle |= WS_EX_APPWINDOW;
    else
        owner = state().helper;
    window.menu = buildMenuBar(def);
    // Laid out for the screens' DPI first; where the window lands on a screen of another, it is
    // laid out again for that one before anything is made inside it.
    window.dpi = systemDpi();
    const RECT rect = placement(def, window.dpi);
    const std::wstring title = widen(def.title);
    HWND hwnd = CreateWindowExW(exStyle, kWindowClass, title.c_str(), style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, owner, window.menu,
                                instance(), &window);
    if (hwnd == nullptr) {
        if (window.menu != nullptr)
            DestroyMenu(window.menu);
        window.menu = nullptr;
        return false;
    }
    if (exStyle & WS_EX_LAYERED)
        SetLayeredWindowAttributes(hwnd, 0, 255, LWA_ALPHA);
    if (const int dpi = windowDpi(hwnd); dpi != window.dpi)
        applyDpi(window, dpi, nullptr);
    else
        setWindowIcons(window);
    return true;
}

}  // namespace

void destroyWindowState(WindowState* window) {
    if (window->destroying)
        return;
    window->destroying = true;
    // Kept alive until this returns, whatever the handlers do to the list.
    const auto keep = sharedOf(window);
    stopTimers(*window);
    dispatch(window->name(), window->name(), Event::Destroying);
    forget(window);
    if (window->modal) {
        // The windows it kept from input take it again before it goes, so one of them is
        // activated in its place.
        for (HWND other : window->disabledByModal) {
            if (IsWindow(other))
                EnableWindow(other, TRUE);
        }
        window->disabledByModal.clear();
        window->modalDone = true;
    }
    if (window->hwnd != nullptr) {
        ShowWindow(window->hwnd, SW_HIDE);
        DestroyWindow(window->hwnd);
    }
    if (window->modal)
        PostMessageW(nullptr, WM_NULL, 0, 0);  // wakes the modal loop
    maybeQuit();
}

namespace {

std::shared_ptr<WindowState> open(std::string_view name, bool modal) {
    const WindowDef* def = findWindowDef(name);
    if (def == nullptr)
        return nullptr;
    installHooks();
    if (WindowState* existing = findWindow(name)) {
        if (!existing->closeRequested && !existing->destroying) {
            if (IsIconic(existing->hwnd))
                ShowWindow(existing->hwnd, SW_RESTORE);
            ShowWindow(existing->hwnd, SW_SHOW);
            SetForegroundWindow(existing->hwnd);
            return sharedOf(existing);
        }
        // A close asked for in the same handler: that window goes now, a fresh one comes.
        destroyWindowState(existing);
    }
    auto window = std::make_shared<WindowState>();
    window->def = def;
    window->modal = modal;
    if (!createNative(*window))
        return nullptr;
    state().windows.push_back(window);
    createControls(*window);
    if (modal) {
        // Application-modal: the program's other windows take no input meanwhile.
        for (const auto& other : state().windows) {
            if (other != window && other->hwnd != nullptr && IsWindowEnabled(other->hwnd)) {
                EnableWindow(other->hwnd, FALSE);
                window->disabledByModal.push_back(other->hwnd);
            }
        }
    }
    startTimers(*window);
    // Painted once the handlers have had their say, as Created may change what shows.
    ShowWindow(window->hwnd, SW_SHOW);
    if (HWND first = GetNextDlgTabItem(window->hwnd, nullptr, FALSE))
        SetFocus(first);
    dispatch(def->name, def->name, Event::Created);
    return window;
}

}  // namespace

RuntimeState& state() {
    static RuntimeState instance;
    return instance;
}

namespace {

using DpiForWindow = UINT(WINAPI*)(HWND);

// Windows before 10 have no DPI of their own for a window: there, every window has the
// screens' DPI.
DpiForWindow dpiForWindow() {
    static const auto function = reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return function;
}

}  // namespace

int systemDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen != nullptr)
            ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int windowDpi(HWND hwnd) {
    const DpiForWindow function = dpiForWindow();
    const int dpi = function != nullptr && hwnd != nullptr ? static_cast<int>(function(hwnd)) : 0;
    return dpi > 0 ? dpi : systemDpi();
}

int px(int value, int dpi) {
    return MulDiv(value, dpi, 96);
}

int unscaled(int value, int dpi) {
    return MulDiv(value, 96, dpi);
}

RECT scaledRect(const Rect& rect, int dpi) {
    const int left = px(rect.left, dpi);
    const int top = px(rect.top, dpi);
    return RECT{left, top, left + px(rect.width, dpi), top + px(rect.height, dpi)};
}

void applyDpi(WindowState& window, int dpi, const RECT* suggested) {
    if (dpi <= 0 || window.hwnd == nullptr)
        return;
    window.dpi = dpi;
    if (suggested != nullptr) {
        SetWindowPos(window.hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        const RECT size = scaledRect(window.def->rect, dpi);
        SetWindowPos(window.hwnd, nullptr, 0, 0, size.right - size.left, size.bottom - size.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    setWindowIcons(window);
    layOutControls(window);
    RedrawWindow(window.hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

ControlState* WindowState::control(std::string_view name) {
    for (ControlState& control : controls) {
        if (control.def->name == name)
            return &control;
    }
    return nullptr;
}

WindowState* findWindow(std::string_view name) {
    for (const auto& window : state().windows) {
        if (window->name() == name)
            return window.get();
    }
    return nullptr;
}

WindowState* windowOf(HWND hwnd) {
    if (hwnd == nullptr)
        return nullptr;
    for (const auto& window : state().windows) {
        if (window->hwnd == hwnd)
            return window.get();
    }
    return nullptr;
}

ControlState* findControl(std::string_view window, std::string_view control) {
    WindowState* state = findWindow(window);
    return state != nullptr ? state->control(control) : nullptr;
}

void showBalloonTimer(bool autoHide, int milliseconds) {
    HWND helper = state().helper;
    KillTimer(helper, kBalloonTimer);
    if (autoHide)
        SetTimer(helper, kBalloonTimer, static_cast<UINT>(milliseconds), nullptr);
}

}  // namespace lumora::ui::win32

namespace lumora::ui {

using namespace win32;

WindowHandle openWindow(std::string_view window) {
    const auto state = open(window, false);
    return state && !state->destroying ? reinterpret_cast<WindowHandle>(state->hwnd) : 0;
}

void openWindowModal(std::string_view window) {
    if (WindowState* existing = findWindow(window);
        existing != nullptr && !existing->closeRequested && !existing->destroying) {
        open(window, true);  // brings it forward; the loop that waits for it is further up
        return;
    }
    const auto modal = open(window, true);
    if (!modal || modal->destroying)
        return;
    ++state().modalDepth;
    MSG msg;
    while (!modal->modalDone) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The program is ending: the loop further out must see that too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    --state().modalDepth;
}

void closeWindow(std::string_view window) {
    WindowState* state = findWindow(window);
    if (state == nullptr || state->closeRequested || state->destroying)
        return;
    state->closeRequested = true;
    // Destroyed once the handler that asked has returned to a message loop.
    PostMessageW(state->hwnd, kDestroyRequested, 0, 0);
}

bool isWindowOpen(std::string_view window) {
    const WindowState* state = findWindow(window);
    return state != nullptr && !state->destroying;
}

bool anyWindowOpen() {
    const auto& windows = win32::state().windows;
    return std::any_of(
        windows.begin(), windows.end(),
        [](const std::shared_ptr<WindowState>& window) { return !window->destroying; });
}

WindowHandle windowHandle(std::string_view window) {
    const WindowState* state = findWindow(window);
    return state != nullptr ? reinterpret_cast<WindowHandle>(state->hwnd) : 0;
}

void repaintWindow(std::string_view window) {
    if (const WindowState* state = findWindow(window); state != nullptr && state->hwnd) {
        RedrawWindow(state->hwnd, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

bool windowVisible(std::string_view window) {
    const WindowState* state = findWindow(window);
    return state != nullptr && state->hwnd != nullptr && IsWindowVisible(state->hwnd);
}

void setWindowVisible(std::string_view window, bool visible) {
    const WindowState* state = findWindow(window);
    if (state == nullptr || state->destroying || state->hwnd == nullptr)
        return;
    if ((IsWindowVisible(state->hwnd) != FALSE) == visible)
        return;
    if (visible) {
        ShowWindow(state->hwnd, IsIconic(state->hwnd) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(state->hwnd);
    } else {
        ShowWindow(state->hwnd, SW_HIDE);
    }
}

void bringWindowToFront(std::string_view window) {
    const WindowState* state = findWindow(window);
    if (state == nullptr || state->destroying || state->hwnd == nullptr)
        return;
    ShowWindow(state->hwnd, IsIconic(state->hwnd) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(state->hwnd);
}

void minimizeWindow(std::string_view window) {
    const WindowState* state = findWindow(window);
    if (state == nullptr || state->destroying || state->hwnd == nullptr)
        return;
    ShowWindow(state->hwnd, SW_MINIMIZE);
}

bool windowMinimized(std::string_view window) {
    const WindowState* state = findWindow(window);
    return state != nullptr && state->hwnd != nullptr && IsIconic(state->hwnd) != FALSE;
}

int windowLeft(std::string_view window) {
    const WindowState* state = findWindow(window);
    RECT rect{};
    if (state == nullptr || state->hwnd == nullptr || !GetWindowRect(state->hwnd, &rect))
        return 0;
    return rect.left;
}

int windowTop(std::string_view window) {
    const WindowState* state = findWindow(window);
    RECT rect{};
    if (state == nullptr || state->hwnd == nullptr || !GetWindowRect(state->hwnd, &rect))
        return 0;
    return rect.top;
}

namespace {

BOOL CALLBACK addShownWindow(HWND hwnd, LPARAM list) {
    RECT rect{};
    if (IsWindowVisible(hwnd) && !IsIconic(hwnd) && GetWindowRect(hwnd, &rect) &&
        rect.right > rect.left && rect.bottom > rect.top) {
        reinterpret_cast<std::vector<platform::ScreenRect>*>(list)->push_back(
            {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top});
    }
    return TRUE;
}

}  // namespace

// Every top-level window of the GUI thread: the program's windows, menus and tooltips.
std::vector<platform::ScreenRect> shownWindowRects() {
    std::vector<platform::ScreenRect> rects;
    EnumThreadWindows(GetCurrentThreadId(), addShownWindow, reinterpret_cast<LPARAM>(&rects));
    return rects;
}

void setWindowAlwaysOnTop(std::string_view window, bool onTop) {
    const WindowState* state = findWindow(window);
    if (state == nullptr || state->hwnd == nullptr)
        return;
    SetWindowPos(state->hwnd, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void quitWhenLastWindowDestroyed(bool quit) {
    win32::state().quitWhenLast = quit;
}

}  // namespace lumora::ui
