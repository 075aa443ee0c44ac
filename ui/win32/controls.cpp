// The controls of a window on Win32: standard controls where Windows has them (buttons,
// checkboxes, radios, labels, edit boxes, the tab control, tooltips as balloons), a small
// window class for picture buttons, and transparent labels drawn by their container.

// The common controls need the base Windows types first.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>

#include "platform/shell_testing.h"
#include "ui/events.h"
#include "ui/win32/state.h"

namespace lumora::ui::win32 {

namespace {

constexpr wchar_t kPictureButtonClass[] = L"LumoraPictureButton";
constexpr UINT_PTR kSubclassId = 0x4C55;  // "LU"

int controlIndex(HWND control) {
    return GetDlgCtrlID(control) - kFirstControlId;
}

WindowState* ownerOf(HWND control) {
    return windowOf(GetAncestor(control, GA_ROOT));
}

int keyState(WPARAM keys) {
    int result = 0;
    if (keys & MK_CONTROL)
        result |= 1;
    if (keys & MK_SHIFT)
        result |= 2;
    if (GetKeyState(VK_MENU) < 0)
        result |= 4;
    return result;
}

// Where the control lies in the client area: controls of a tab page are placed relative to
// their tab control.
RECT clientRect(WindowState& window, const ControlDef& def) {
    RECT rect = scaledRect(def.rect, window.dpi);
    if (!def.tabControl.empty()) {
        if (ControlState* tab = window.control(def.tabControl)) {
            OffsetRect(&rect, px(tab->def->rect.left, window.dpi),
                       px(tab->def->rect.top, window.dpi));
        }
    }
    return rect;
}

void invalidateLabel(WindowState& window, const ControlState& label) {
    if (window.hwnd == nullptr)
        return;
    if (!label.def->tabControl.empty()) {
        if (ControlState* tab = window.control(label.def->tabControl); tab && tab->hwnd) {
            RECT rect = scaledRect(label.def->rect, window.dpi);
            InflateRect(&rect, 3, 3);
            InvalidateRect(tab->hwnd, &rect, FALSE);
            return;
        }
    }
    RECT rect = clientRect(window, *label.def);
    // The effects draw a pixel or two past the rectangle's text.
    InflateRect(&rect, 3, 3);
    InvalidateRect(window.hwnd, &rect, FALSE);
}

// --- The control scheme's frames (platform::applyControlScheme), drawn over the controls' own

// radius < 0: an ellipse.
void outline(HDC dc, RECT rect, int radius) {
    const auto colour = platform::testing::controlSchemeFrameColour();
    if (!colour || rect.right - rect.left < 2 || rect.bottom - rect.top < 2)
        return;
    HPEN pen =
        CreatePen(PS_SOLID, 1, RGB((*colour >> 16) & 0xFF, (*colour >> 8) & 0xFF, *colour & 0xFF));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    if (radius < 0)
        Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
    else
        RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, 2 * radius, 2 * radius);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

// The size of the check box and radio circle the classic controls draw.
constexpr int kIndicatorSize = 13;

void outlineControl(HWND hwnd, const ControlState& control, int dpi) {
    if (!platform::testing::controlSchemeFrameColour() || !IsWindowVisible(hwnd))
        return;
    const ControlKind kind = control.def->kind;
    if (kind == ControlKind::EditBox) {
        // The edit box's frame is outside its client area.
        HDC dc = GetWindowDC(hwnd);
        RECT rect;
        GetWindowRect(hwnd, &rect);
        OffsetRect(&rect, -rect.left, -rect.top);
        outline(dc, rect, 2);
        ReleaseDC(hwnd, dc);
        return;
    }
    HDC dc = GetDC(hwnd);
    RECT rect;
    GetClientRect(hwnd, &rect);
    if (kind == ControlKind::Button) {
        outline(dc, rect, 2);
    } else if (kind == ControlKind::Checkbox || kind == ControlKind::RadioButton) {
        const int size = px(kIndicatorSize, dpi);
        const int top = (rect.bottom - size) / 2;
        outline(dc, RECT{0, top, size, top + size}, kind == ControlKind::Checkbox ? 1 : -1);
    }
    ReleaseDC(hwnd, dc);
}

// Messages after which a standard control may have drawn itself anew, outside WM_PAINT too.
bool mayRedraw(UINT message) {
    switch (message) {
        case WM_PAINT:
        case WM_NCPAINT:
        case WM_ENABLE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SETTEXT:
        case BM_SETSTATE:
        case BM_SETCHECK:
        case BM_CLICK:
        case WM_CAPTURECHANGED:
            return true;
        default:
            return false;
    }
}

// --- Edit boxes with their text in the middle of their height, as on the other desktops: the
// spare height becomes a margin outside the client area, painted in the box's colour.

int editLineHeight(HWND edit) {
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    return metrics.tmHeight;
}

// The frame's inner rectangle and the client area, in window coordinates.
void editAreas(HWND edit, RECT& inner, RECT& client) {
    RECT window;
    GetWindowRect(edit, &window);
    GetClientRect(edit, &client);
    MapWindowPoints(edit, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -window.left, -window.top);
    inner = RECT{0, 0, window.right - window.left, window.bottom - window.top};
    InflateRect(&inner, -GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
}

void paintEditMargins(HWND edit) {
    RECT inner;
    RECT client;
    editAreas(edit, inner, client);
    if (client.top <= inner.top && client.bottom >= inner.bottom)
        return;
    HDC dc = GetWindowDC(edit);
    // The brush the box paints its own background with.
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(GetParent(edit), IsWindowEnabled(edit) ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC,
                     reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit)));
    if (brush == nullptr)
        brush = GetSysColorBrush(COLOR_WINDOW);
    const RECT top{inner.left, inner.top, inner.right, client.top};
    const RECT bottom{inner.left, client.bottom, inner.right, inner.bottom};
    FillRect(dc, &top, brush);
    FillRect(dc, &bottom, brush);
    ReleaseDC(edit, dc);
}

// --- Mouse events of standard controls, the edit boxes' input modes, the tab control's labels

bool acceptsChar(EditMode mode, wchar_t c) {
    return mode == EditMode::Normal || c < 0x20 || (c >= L'0' && c <= L'9') || c == L'-';
}

// Pasted text is taken whole or not at all, as a typed character is.
bool pasteFiltered(HWND edit, EditMode mode) {
    if (mode == EditMode::Normal)
        return false;
    if (!OpenClipboard(edit))
        return true;
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    const bool clean = std::all_of(text.begin(), text.end(),
                                   [mode](wchar_t c) { return c >= 0x20 && acceptsChar(mode, c); });
    if (clean && !text.empty())
        SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    else if (!clean)
        MessageBeep(MB_OK);
    return true;
}

void paintTab(HWND tab, WindowState& window, const ControlState& control) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(tab, &paint);
    RECT rect;
    GetClientRect(tab, &rect);
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap =
        CreateCompatibleBitmap(dc, std::max<LONG>(1, rect.right), std::max<LONG>(1, rect.bottom));
    HGDIOBJ old = SelectObject(buffer, bitmap);
    // The control draws itself into the buffer, then its page's labels go on top.
    DefSubclassProc(tab, WM_ERASEBKGND, reinterpret_cast<WPARAM>(buffer), 0);
    DefSubclassProc(tab, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(buffer),
                    PRF_CLIENT | PRF_ERASEBKGND);
    drawTransparentLabels(window, buffer, control.def->name);
    RECT header{};
    if (SendMessageW(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&header))) {
        outline(buffer, RECT{0, header.bottom, rect.right, rect.bottom}, 2);
    }
    BitBlt(dc, 0, 0, rect.right, rect.bottom, buffer, 0, 0, SRCCOPY);
    SelectObject(buffer, old);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(tab, &paint);
}

// Mouse moves are reported only when the mouse did move: Windows repeats the last one when
// windows come and go under it (a balloon shown by a mouse-move handler would otherwise be
// shown again and again).
bool movedSinceLast(HWND hwnd, LPARAM position) {
    static HWND lastWindow = nullptr;
    static LPARAM lastPosition = 0;
    if (hwnd == lastWindow && position == lastPosition)
        return false;
    lastWindow = hwnd;
    lastPosition = position;
    return true;
}

LRESULT CALLBACK controlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    WindowState* window = ownerOf(hwnd);
    ControlState* control = window != nullptr
                                ? window->controlAt(static_cast<std::size_t>(controlIndex(hwnd)))
                                : nullptr;
    if (control == nullptr || window->destroying)
        return DefSubclassProc(hwnd, message, wParam, lParam);
    const bool isTab = control->def->kind == ControlKind::TabControl;
    switch (message) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN: {
            if (message == WM_MOUSEMOVE && !movedSinceLast(hwnd, lParam))
                break;
            const POINT point{static_cast<short>(LOWORD(lParam)),
                              static_cast<short>(HIWORD(lParam))};
            const std::string_view windowName = window->name();
            if (isTab) {
                if (ControlState* label = transparentLabelAt(*window, control->def->name, point)) {
                    const POINT inLabel{point.x - px(label->def->rect.left, window->dpi),
                                        point.y - px(label->def->rect.top, window->dpi)};
                    raiseMouse(*window, *label, message, inLabel, wParam);
                    if (findWindow(windowName) != window)
                        return 0;  // the handler closed the window
                    break;
                }
            }
            raiseMouse(*window, *control, message, point, wParam);
            if (findWindow(windowName) != window)
                return 0;
            break;
        }
        case WM_SETCURSOR: {
            if (reinterpret_cast<HWND>(wParam) != hwnd || LOWORD(lParam) != HTCLIENT)
                break;
            const ControlState* shaped = control;
            if (isTab) {
                POINT point;
                GetCursorPos(&point);
                ScreenToClient(hwnd, &point);
                if (ControlState* label = transparentLabelAt(*window, control->def->name, point))
                    shaped = label;
            }
            if (shaped->def->cursor == Cursor::Hand) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        }
        case WM_CHAR:
            if (control->def->kind == ControlKind::EditBox &&
                !acceptsChar(control->def->editMode, static_cast<wchar_t>(wParam))) {
                MessageBeep(MB_OK);
                return 0;
            }
            break;
        case WM_NCCALCSIZE:
            if (control->def->kind == ControlKind::EditBox && wParam != FALSE) {
                const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
                RECT& area = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0];
                const int spare = (area.bottom - area.top) - editLineHeight(hwnd);
                if (spare > 1) {
                    area.top += spare / 2;
                    area.bottom -= spare - spare / 2;
                }
                return result;
            }
            break;
        case WM_NCHITTEST:
            if (control->def->kind == ControlKind::EditBox) {
                // The margins answer the mouse as the text does.
                const LRESULT hit = DefSubclassProc(hwnd, message, wParam, lParam);
                RECT window;
                GetWindowRect(hwnd, &window);
                const POINT point{static_cast<short>(LOWORD(lParam)),
                                  static_cast<short>(HIWORD(lParam))};
                return hit != HTCLIENT && PtInRect(&window, point) ? HTCLIENT : hit;
            }
            break;
        case WM_PASTE:
            if (control->def->kind == ControlKind::EditBox &&
                pasteFiltered(hwnd, control->def->editMode)) {
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            if (isTab)
                return 1;
            break;
        case WM_PAINT:
            if (isTab) {
                paintTab(hwnd, *window, *control);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, controlSubclass, kSubclassId);
            return DefSubclassProc(hwnd, message, wParam, lParam);
        default:
            break;
    }
    const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
    if (message == WM_NCPAINT && control->def->kind == ControlKind::EditBox)
        paintEditMargins(hwnd);
    if (mayRedraw(message) && !isTab && control->def->kind != ControlKind::Label)
        outlineControl(hwnd, *control, window->dpi);
    return result;
}

// --- Picture buttons: four images, never the focus ---

void paintPictureButton(HWND hwnd, WindowState& window, const ControlState& control) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT rect;
    GetClientRect(hwnd, &rect);
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap =
        CreateCompatibleBitmap(dc, std::max<LONG>(1, rect.right), std::max<LONG>(1, rect.bottom));
    HGDIOBJ old = SelectObject(buffer, bitmap);
    // Where the picture does not reach, the window shows through, as it does around a picture
    // smaller than its button.
    RECT client;
    GetClientRect(window.hwnd, &client);
    POINT origin{0, 0};
    MapWindowPoints(hwnd, window.hwnd, &origin, 1);
    SetViewportOrgEx(buffer, -origin.x, -origin.y, nullptr);
    drawBackground(buffer, *window.def, client, window.dpi);
    drawTransparentLabels(window, buffer, {});
    SetViewportOrgEx(buffer, 0, 0, nullptr);

    int look = 0;  // normal, mouse over, pressed, disabled
    if (!IsWindowEnabled(hwnd))
        look = 3;
    else if (control.pressed && control.pressedIn)
        look = 2;
    else if (control.hovered)
        look = 1;
    const Picture picture =
        findPicture(control.def->images[static_cast<std::size_t>(look)], window.dpi);
    if (picture) {
        drawPicture(buffer, picture, 0, 0, window.dpi);
    } else {
        // Artwork missing: still a pressable surface rather than a hole.
        DrawFrameControl(
            buffer, &rect, DFC_BUTTON,
            DFCS_BUTTONPUSH | (look == 2 ? DFCS_PUSHED : 0u) | (look == 3 ? DFCS_INACTIVE : 0u));
    }
    BitBlt(dc, 0, 0, rect.right, rect.bottom, buffer, 0, 0, SRCCOPY);
    SelectObject(buffer, old);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(hwnd, &paint);
}

LRESULT CALLBACK pictureButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowState* window = ownerOf(hwnd);
    ControlState* control = window != nullptr
                                ? window->controlAt(static_cast<std::size_t>(controlIndex(hwnd)))
                                : nullptr;
    if (control == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    switch (message) {
        case WM_PAINT:
            paintPictureButton(hwnd, *window, *control);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_ENABLE:
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE: {
            bool changed = false;
            if (!control->hovered) {
                control->hovered = true;
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&track);
                changed = true;
            }
            if (control->pressed) {
                RECT rect;
                GetClientRect(hwnd, &rect);
                const bool inside = PtInRect(&rect, point) != FALSE;
                changed = changed || inside != control->pressedIn;
                control->pressedIn = inside;
            }
            if (changed)
                InvalidateRect(hwnd, nullptr, FALSE);
            if (!window->destroying && movedSinceLast(hwnd, lParam))
                raiseMouse(*window, *control, message, point, wParam);
            return 0;
        }
        case WM_MOUSELEAVE:
            control->hovered = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            SetCapture(hwnd);
            control->pressed = true;
            control->pressedIn = true;
            InvalidateRect(hwnd, nullptr, FALSE);
            if (!window->destroying)
                raiseMouse(*window, *control, WM_LBUTTONDOWN, point, wParam);
            return 0;
        case WM_LBUTTONUP: {
            if (!control->pressed)
                return 0;
            RECT rect;
            GetClientRect(hwnd, &rect);
            const bool clicked = PtInRect(&rect, point) != FALSE;
            control->pressed = false;
            control->pressedIn = false;
            ReleaseCapture();
            InvalidateRect(hwnd, nullptr, FALSE);
            if (clicked && !window->destroying && IsWindowEnabled(hwnd))
                dispatch(window->def->name, control->def->name, Event::Clicked);
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (control->pressed) {
                control->pressed = false;
                control->pressedIn = false;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_SETCURSOR:
            if (control->def->cursor == Cursor::Hand && LOWORD(lParam) == HTCLIENT) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// --- Creation ---

HWND createStandard(WindowState& window, const ControlDef& def, std::size_t index,
                    const wchar_t* className, DWORD style, DWORD exStyle,
                    const std::wstring& text) {
    const RECT rect = clientRect(window, def);
    // Overlapping controls each keep to their own place in the stacking order when they paint.
    HWND hwnd = CreateWindowExW(
        exStyle, className, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, window.hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(index))),
        GetModuleHandleW(nullptr), nullptr);
    if (hwnd == nullptr)
        return nullptr;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(def.font, window.dpi)), FALSE);
    return hwnd;
}

void createControl(WindowState& window, const ControlDef& def, std::size_t index) {
    ControlState& control = window.controls.emplace_back();
    control.def = &def;
    control.visibleFlag = def.visible;
    control.disabled = def.disabled;
    control.text = std::string(def.caption);
    control.colour = def.textColour & 0x00FFFFFF;
    const DWORD tabStop = def.tabStop ? WS_TABSTOP : 0;
    // Each control a group of its own: arrow keys do not wander between controls.
    const DWORD common = WS_GROUP | tabStop;
    const std::wstring caption = widen(def.caption);
    HWND hwnd = nullptr;
    switch (def.kind) {
        case ControlKind::Button:
            hwnd = createStandard(window, def, index, L"BUTTON", BS_PUSHBUTTON | common, 0,
                                  escapeMnemonic(caption));
            break;
        case ControlKind::PictureButton:
            hwnd = createStandard(window, def, index, kPictureButtonClass, WS_GROUP, 0, L"");
            break;
        case ControlKind::Checkbox:
            hwnd = createStandard(window, def, index, L"BUTTON", BS_AUTOCHECKBOX | common, 0,
                                  escapeMnemonic(caption));
            break;
        case ControlKind::RadioButton:
            // Grouped by the model (its page), not by Windows: a click only ever selects it.
            hwnd = createStandard(window, def, index, L"BUTTON", BS_RADIOBUTTON | common, 0,
                                  escapeMnemonic(caption));
            break;
        case ControlKind::Label:
            hwnd = createStandard(window, def, index, L"STATIC", SS_LEFT | SS_NOPREFIX | WS_GROUP,
                                  0, withWindowsLineEnds(caption));
            break;
        case ControlKind::EditBox: {
            hwnd = createStandard(window, def, index, L"EDIT", ES_AUTOHSCROLL | ES_LEFT | common,
                                  WS_EX_CLIENTEDGE, caption);
            if (hwnd != nullptr && def.maxLength > 0) {
                // Text from the definition is kept whole, even past the typing limit.
                const auto limit =
                    std::max<std::size_t>(static_cast<std::size_t>(def.maxLength), caption.size());
                SendMessageW(hwnd, EM_SETLIMITTEXT, limit, 0);
            }
            break;
        }
        case ControlKind::TabControl: {
            hwnd = createStandard(window, def, index, WC_TABCONTROLW,
                                  WS_CLIPSIBLINGS | WS_GROUP | tabStop, 0, L"");
            if (hwnd == nullptr)
                break;
            // Every page caption in view at once, as the layouts were drawn for: narrower
            // padding than the default. Set before the items go in, since the control works out
            // their sizes as they are added: set later, it would take effect at whatever next
            // makes it measure them again (the focus, a page change), and the headers jump.
            SendMessageW(hwnd, TCM_SETPADDING, 0, MAKELPARAM(px(7, window.dpi), px(3, window.dpi)));
            int page = 0;
            for (std::string_view caption : def.pages) {
                std::wstring text = widen(caption);
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = text.data();
                SendMessageW(hwnd, TCM_INSERTITEMW, static_cast<WPARAM>(page++),
                             reinterpret_cast<LPARAM>(&item));
            }
            break;
        }
        case ControlKind::TransparentLabel:
        case ControlKind::Timer:
        case ControlKind::BalloonTip:
            break;
    }
    if (hwnd == nullptr)
        return;
    control.hwnd = hwnd;
    if (def.disabled)
        EnableWindow(hwnd, FALSE);
    if (def.kind == ControlKind::Checkbox || def.kind == ControlKind::RadioButton)
        SendMessageW(hwnd, BM_SETCHECK, def.selected ? BST_CHECKED : BST_UNCHECKED, 0);
    if (def.kind != ControlKind::PictureButton)
        SetWindowSubclass(hwnd, controlSubclass, kSubclassId, 0);
    if (def.kind == ControlKind::EditBox) {
        // The margins are worked out again now that the font is set.
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void radioClicked(WindowState& window, ControlState& clicked) {
    // The group is the radio's page (or the window, for radios on no page).
    for (ControlState& other : window.controls) {
        if (&other == &clicked || other.def->kind != ControlKind::RadioButton || !other.hwnd)
            continue;
        if (other.def->tabControl != clicked.def->tabControl ||
            other.def->page != clicked.def->page) {
            continue;
        }
        SendMessageW(other.hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    SendMessageW(clicked.hwnd, BM_SETCHECK, BST_CHECKED, 0);
    dispatch(window.def->name, clicked.def->name, Event::Clicked);
}

void fitLimitToText(const ControlState& control) {
    if (control.def->maxLength <= 0 || control.hwnd == nullptr)
        return;
    const auto length = static_cast<std::size_t>(GetWindowTextLengthW(control.hwnd));
    SendMessageW(control.hwnd, EM_SETLIMITTEXT,
                 std::max(static_cast<std::size_t>(control.def->maxLength), length), 0);
}

}  // namespace

void registerControlClasses() {
    WNDCLASSEXW pictureClass{};
    pictureClass.cbSize = sizeof(pictureClass);
    pictureClass.style = CS_DBLCLKS;
    pictureClass.lpfnWndProc = pictureButtonProc;
    pictureClass.hInstance = GetModuleHandleW(nullptr);
    pictureClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    pictureClass.lpszClassName = kPictureButtonClass;
    RegisterClassExW(&pictureClass);
}

void createControls(WindowState& window) {
    const auto defs = window.def->controls;
    window.controls.reserve(defs.size());  // never grows after: controls are found by address
    for (std::size_t i = 0; i < defs.size(); ++i)
        createControl(window, defs[i], i);
    // An earlier control lies in front of a later one; the tab order follows. Tab controls lie
    // behind everything, so the controls of their pages show on them.
    HWND previous = HWND_TOP;
    for (ControlState& control : window.controls) {
        if (control.hwnd == nullptr || control.def->kind == ControlKind::TabControl)
            continue;
        SetWindowPos(control.hwnd, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = control.hwnd;
    }
    for (ControlState& control : window.controls) {
        if (control.hwnd != nullptr && control.def->kind == ControlKind::TabControl) {
            SetWindowPos(control.hwnd, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    for (ControlState& control : window.controls) {
        if (control.hwnd != nullptr && shownNow(window, control))
            ShowWindow(control.hwnd, SW_SHOWNA);
    }
}

bool shownNow(WindowState& window, const ControlState& control) {
    if (!control.visibleFlag)
        return false;
    const ControlDef& def = *control.def;
    if (def.tabControl.empty())
        return true;
    ControlState* tab = window.control(def.tabControl);
    if (tab == nullptr || tab->hwnd == nullptr)
        return true;
    return SendMessageW(tab->hwnd, TCM_GETCURSEL, 0, 0) == def.page;
}

void showControl(WindowState& window, ControlState& control) {
    if (control.hwnd == nullptr) {
        if (control.def->kind == ControlKind::TransparentLabel)
            invalidateLabel(window, control);
        return;
    }
    const bool show = shownNow(window, control);
    if (!show && GetFocus() == control.hwnd) {
        // The focus moves on rather than staying with a control nobody sees.
        if (HWND next = GetNextDlgTabItem(window.hwnd, control.hwnd, FALSE);
            next != nullptr && next != control.hwnd) {
            SetFocus(next);
        }
    }
    ShowWindow(control.hwnd, show ? SW_SHOWNA : SW_HIDE);
}

void applyPageRule(WindowState& window, std::string_view tabControl) {
    for (ControlState& control : window.controls) {
        if (control.def->tabControl == tabControl)
            showControl(window, control);
    }
    if (ControlState* tab = window.control(tabControl); tab && tab->hwnd)
        InvalidateRect(tab->hwnd, nullptr, FALSE);
}

void layOutControls(WindowState& window) {
    for (ControlState& control : window.controls) {
        if (control.hwnd == nullptr)
            continue;
        const ControlDef& def = *control.def;
        const RECT rect = clientRect(window, def);
        SetWindowPos(control.hwnd, nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (def.kind == ControlKind::TabControl) {
            SendMessageW(control.hwnd, TCM_SETPADDING, 0,
                         MAKELPARAM(px(7, window.dpi), px(3, window.dpi)));
        }
        // A new font also has the tab control measure its headers again, with the padding.
        if (def.kind != ControlKind::PictureButton) {
            SendMessageW(control.hwnd, WM_SETFONT,
                         reinterpret_cast<WPARAM>(fontFor(def.font, window.dpi)), TRUE);
        }
        if (def.kind == ControlKind::EditBox) {
            SetWindowPos(
                control.hwnd, nullptr, 0, 0, 0, 0,
                SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

bool turnPage(WindowState& window, int step) {
    for (ControlState& control : window.controls) {
        if (control.def->kind != ControlKind::TabControl || control.hwnd == nullptr ||
            !IsWindowVisible(control.hwnd) || !IsWindowEnabled(control.hwnd)) {
            continue;
        }
        const auto count = static_cast<int>(SendMessageW(control.hwnd, TCM_GETITEMCOUNT, 0, 0));
        if (count > 1) {
            const auto current = static_cast<int>(SendMessageW(control.hwnd, TCM_GETCURSEL, 0, 0));
            const int next = ((current < 0 ? 0 : current) + step % count + count) % count;
            SendMessageW(control.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
            applyPageRule(window, control.def->name);
        }
        return true;
    }
    return false;
}

void setControlVisibleFlag(WindowState& window, ControlState& control, bool visible) {
    control.visibleFlag = visible;
    showControl(window, control);
}

void setInterval(WindowState& window, ControlState& control, int milliseconds) {
    milliseconds = std::max(0, milliseconds);
    // The same value keeps the phase; anything else starts counting afresh.
    if (milliseconds == control.interval)
        return;
    control.interval = milliseconds;
    const auto id = static_cast<UINT_PTR>(kFirstControlId + (&control - window.controls.data()));
    if (control.timerRunning && window.hwnd != nullptr)
        KillTimer(window.hwnd, id);
    control.timerRunning = false;
    if (milliseconds > 0 && !window.destroying && window.hwnd != nullptr) {
        control.timerRunning =
            SetTimer(window.hwnd, id, static_cast<UINT>(milliseconds), nullptr) != 0;
    }
}

void startTimers(WindowState& window) {
    for (ControlState& control : window.controls) {
        if (control.def->kind == ControlKind::Timer) {
            control.interval = 0;
            setInterval(window, control, control.def->interval);
        }
    }
}

void stopTimers(WindowState& window) {
    for (ControlState& control : window.controls) {
        if (control.def->kind == ControlKind::Timer && control.timerRunning) {
            if (window.hwnd != nullptr) {
                KillTimer(window.hwnd, static_cast<UINT_PTR>(kFirstControlId +
                                                             (&control - window.controls.data())));
            }
            control.timerRunning = false;
        }
    }
}

bool controlCommand(WindowState& window, int id, int code, HWND) {
    ControlState* control = window.controlAt(static_cast<std::size_t>(id - kFirstControlId));
    if (control == nullptr || window.destroying)
        return false;
    switch (control->def->kind) {
        case ControlKind::Button:
        case ControlKind::Checkbox:
            if (code == BN_CLICKED)
                dispatch(window.def->name, control->def->name, Event::Clicked);
            return true;
        case ControlKind::RadioButton:
            if (code == BN_CLICKED)
                radioClicked(window, *control);
            return true;
        case ControlKind::EditBox:
            if (code == EN_CHANGE) {
                // The limit never drops below the text, as the person deletes an over-long one.
                fitLimitToText(*control);
            } else if (code == EN_KILLFOCUS && control->def->editMode == EditMode::Integer) {
                std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control->hwnd)),
                                  L'\0');
                GetWindowTextW(control->hwnd, text.data(), static_cast<int>(text.size()) + 1);
                const std::wstring normal = widen(normaliseIntegerText(narrow(text)));
                if (normal != text) {
                    SetWindowTextW(control->hwnd, normal.c_str());
                    fitLimitToText(*control);
                }
            }
            return true;
        default:
            return false;
    }
}

HBRUSH pageBrush(WindowState& window, HWND control, HDC dc) {
    ControlState* state = window.controlAt(static_cast<std::size_t>(controlIndex(control)));
    if (state == nullptr || state->def->tabControl.empty())
        return nullptr;
    ControlState* tab = window.control(state->def->tabControl);
    if (tab == nullptr || tab->hwnd == nullptr)
        return nullptr;
    if (window.pageBrush == nullptr) {
        // The page's own colour, as the tab control paints it (white with the newer styles,
        // the face colour with the classic one): taken from a drawing of it.
        RECT rect;
        GetClientRect(tab->hwnd, &rect);
        HDC screen = GetDC(tab->hwnd);
        HDC buffer = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, std::max<LONG>(1, rect.right),
                                                std::max<LONG>(1, rect.bottom));
        HGDIOBJ old = SelectObject(buffer, bitmap);
        DefSubclassProc(tab->hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(buffer), 0);
        SendMessageW(tab->hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(buffer),
                     PRF_CLIENT | PRF_ERASEBKGND);
        RECT page = rect;
        SendMessageW(tab->hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
        COLORREF colour = GetPixel(buffer, (page.left + page.right) / 2, page.bottom - 2);
        if (colour == CLR_INVALID)
            colour = GetSysColor(COLOR_BTNFACE);
        SelectObject(buffer, old);
        DeleteObject(bitmap);
        DeleteDC(buffer);
        ReleaseDC(tab->hwnd, screen);
        window.pageColour = colour;
        window.pageBrush = CreateSolidBrush(colour);
    }
    SetBkColor(dc, window.pageColour);
    return window.pageBrush;
}

void drawTransparentLabels(WindowState& window, HDC dc, std::string_view tabControl) {
    SetBkMode(dc, TRANSPARENT);
    // Back to front: a later control lies behind an earlier one.
    for (auto it = window.controls.rbegin(); it != window.controls.rend(); ++it) {
        const ControlState& label = *it;
        const ControlDef& def = *label.def;
        if (def.kind != ControlKind::TransparentLabel || def.tabControl != tabControl ||
            !shownNow(window, label)) {
            continue;
        }
        UINT format = DT_NOPREFIX;
        switch (def.hAlign) {
            case HAlign::Left:
                format |= DT_LEFT;
                break;
            case HAlign::Centre:
                format |= DT_CENTER;
                break;
            case HAlign::Right:
                format |= DT_RIGHT;
                break;
        }
        if (def.wrap) {
            format |= DT_TOP | DT_WORDBREAK | DT_EDITCONTROL;
        } else {
            format |= DT_SINGLELINE;
            switch (def.vAlign) {
                case VAlign::Top:
                    format |= DT_TOP;
                    break;
                case VAlign::Centre:
                    format |= DT_VCENTER;
                    break;
                case VAlign::Bottom:
                    format |= DT_BOTTOM;
                    break;
            }
        }
        std::wstring text = widen(label.text);
        HGDIOBJ oldFont = SelectObject(dc, fontFor(def.font, window.dpi));
        const RECT area = scaledRect(def.rect, window.dpi);
        const HRGN clip = CreateRectRgn(area.left, area.top, area.right + 2, area.bottom + 2);
        SaveDC(dc);
        ExtSelectClipRgn(dc, clip, RGN_AND);
        auto draw = [&](COLORREF colour, int dx, int dy) {
            RECT shifted = area;
            OffsetRect(&shifted, dx, dy);
            SetTextColor(dc, colour);
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &shifted, format);
        };
        const COLORREF colour = label.colour;
        switch (def.effect) {
            case 1:
                draw(RGB(255, 255, 255), 1, 1);
                draw(colour, 0, 0);
                break;
            case 2:
                draw(RGB(255, 255, 255), 0, 0);
                draw(colour, 1, 1);
                break;
            case 3:
                draw(RGB(0, 0, 0), 2, 2);
                draw(colour, 0, 0);
                break;
            default:
                draw(colour, 0, 0);
                break;
        }
        RestoreDC(dc, -1);
        DeleteObject(clip);
        SelectObject(dc, oldFont);
    }
}

ControlState* transparentLabelAt(WindowState& window, std::string_view tabControl, POINT point) {
    for (ControlState& label : window.controls) {
        const ControlDef& def = *label.def;
        if (def.kind != ControlKind::TransparentLabel || def.tabControl != tabControl ||
            label.disabled || !shownNow(window, label)) {
            continue;
        }
        const RECT area = scaledRect(def.rect, window.dpi);
        if (PtInRect(&area, point)) {
            return &label;
        }
    }
    return nullptr;
}

void raiseMouse(WindowState& window, const ControlState& control, UINT message, POINT inControl,
                WPARAM keys) {
    const EventArgs args{unscaled(inControl.x, window.dpi), unscaled(inControl.y, window.dpi),
                         keyState(keys)};
    dispatch(window.def->name, control.def->name,
             message == WM_LBUTTONDOWN ? Event::LeftButtonDown : Event::MouseMoved, args);
}

void clickDefault(WindowState& window) {
    HWND focus = GetFocus();
    for (ControlState& control : window.controls) {
        if (control.hwnd == focus && focus != nullptr && control.def->kind == ControlKind::Button) {
            // A focused push button takes Enter itself.
            if (IsWindowEnabled(focus))
                dispatch(window.def->name, control.def->name, Event::Clicked);
            return;
        }
    }
    for (ControlState& control : window.controls) {
        if (control.def->kind == ControlKind::Button && control.def->defaultButton) {
            if (control.hwnd != nullptr && IsWindowEnabled(control.hwnd))
                dispatch(window.def->name, control.def->name, Event::Clicked);
            return;  // only the first default button counts
        }
    }
}

void setLabelText(WindowState& window, ControlState& control, std::string_view text) {
    if (control.text == text)
        return;
    control.text = std::string(text);
    invalidateLabel(window, control);
}

void setLabelColour(WindowState& window, ControlState& control, Colour colour) {
    if (control.colour == colour)
        return;
    control.colour = colour;
    invalidateLabel(window, control);
}

void setEditText(ControlState& control, std::string_view text) {
    const std::wstring value = widen(text);
    // Text from the logic is taken as it is; the box's limit governs typing only.
    if (control.def->maxLength > 0) {
        SendMessageW(control.hwnd, EM_SETLIMITTEXT,
                     std::max(static_cast<std::size_t>(control.def->maxLength), value.size()), 0);
    }
    SetWindowTextW(control.hwnd, value.c_str());
}

}  // namespace lumora::ui::win32
