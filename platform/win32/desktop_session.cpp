#include "platform/desktop_session.h"

#include <windows.h>

#include <dwmapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "platform/keys.h"
#include "platform/snapshot.h"
#include "platform/snapshot_bmp.h"
#include "platform/win32/wide.h"
#include "platform/window_frame.h"

namespace lumora::platform {

namespace {

// The rectangle a window capture takes: the frame the person sees. With the desktop window
// manager that is the extended frame bounds (GetWindowRect adds the invisible resize borders);
// without it (or under Wine, which does not implement it) the window rectangle.
RECT captureRect(HWND window) {
    RECT rect{};
    if (FAILED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &rect, sizeof rect)) ||
        rect.right <= rect.left || rect.bottom <= rect.top)
        GetWindowRect(window, &rect);
    return rect;
}

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The screen area `from` as a BMP file image of width x height: BitBlt into a 24-bit
// bottom-up DIB section, whose bits are already the BMP's pixel array, scaled with HALFTONE
// when the size differs.
Bytes grab(const RECT& from, int width, int height, std::string& failure) {
    const int sourceWidth = from.right - from.left;
    const int sourceHeight = from.bottom - from.top;
    const auto outWidth = snapshot::outputDimension(width, sourceWidth);
    const auto outHeight = snapshot::outputDimension(height, sourceHeight);
    if (sourceWidth <= 0 || sourceHeight <= 0 || !outWidth || !outHeight) {
        failure = "the picture has no size";
        return {};
    }
    const std::uint64_t stride = snapshot::bmpStride(static_cast<std::uint64_t>(*outWidth));
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(*outHeight);
    if (snapshot::kBmpHeaderSize + imageSize > 0xFFFFFFFFull) {
        failure = "the picture is too large";
        return {};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = *outWidth;
    info.bmiHeader.biHeight = *outHeight;  // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    Bytes out;
    if (section != nullptr && memory != nullptr) {
        HGDIOBJ old = SelectObject(memory, section);
        BOOL copied;
        if (*outWidth == sourceWidth && *outHeight == sourceHeight) {
            copied = BitBlt(memory, 0, 0, sourceWidth, sourceHeight, screen, from.left, from.top,
                            SRCCOPY | CAPTUREBLT);
        } else {
            SetStretchBltMode(memory, HALFTONE);
            SetBrushOrgEx(memory, 0, 0, nullptr);
            copied = StretchBlt(memory, 0, 0, *outWidth, *outHeight, screen, from.left, from.top,
                                sourceWidth, sourceHeight, SRCCOPY | CAPTUREBLT);
        }
        GdiFlush();
        if (copied) {
            out.resize(snapshot::kBmpHeaderSize + imageSize);
            std::uint8_t* h = out.data();
            h[0] = 'B';
            h[1] = 'M';
            put32(h + 2, static_cast<std::uint32_t>(out.size()));
            put32(h + 10, snapshot::kBmpHeaderSize);
            put32(h + 14, 40);
            put32(h + 18, static_cast<std::uint32_t>(*outWidth));
            put32(h + 22, static_cast<std::uint32_t>(*outHeight));
            put16(h + 26, 1);
            put16(h + 28, 24);
            put32(h + 34, static_cast<std::uint32_t>(imageSize));
            std::memcpy(h + snapshot::kBmpHeaderSize, bits, imageSize);
        } else {
            failure = "the screen could not be copied";
        }
        SelectObject(memory, old);
    } else {
        failure = "no memory for the picture";
    }
    if (section != nullptr)
        DeleteObject(section);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

// The keyboard as seen by a low-level hook: every key goes on to the next hook and to the
// program it was meant for; the hook only tells Lumora that a capture key went down or up, at
// once, so a quick press is never missed between two samples of the key timer.
DesktopSession::KeyChanged& hookTarget() {
    static DesktopSession::KeyChanged target;
    return target;
}

// A capture key pressed while Ctrl, Shift, Alt or the Windows key is held belongs to someone
// else's shortcut (Shift+Insert pastes, Ctrl+Insert copies): that press is no capture. Decided
// once per press, when the key goes down; the hook and the key timer both run on the GUI
// thread, so this state needs no lock.
struct CaptureKey {
    int virtualKey;
    bool down = false;
    bool chord = false;
};
struct ChordState {
    std::array<CaptureKey, 2> keys{{{kVkPrintScreen}, {kVkInsert}}};
    // The modifiers as the hook saw them go down and up, in the order of the presses.
    std::array<bool, 4> modifierDown{};
};
ChordState& chords() {
    static ChordState state;
    return state;
}

CaptureKey* captureKey(DWORD virtualKey) {
    for (auto& key : chords().keys) {
        if (static_cast<DWORD>(key.virtualKey) == virtualKey)
            return &key;
    }
    return nullptr;
}

// Which of Ctrl, Shift, Alt and Windows a virtual key is; -1 for any other key.
int modifierIndex(DWORD virtualKey) {
    switch (virtualKey) {
        case VK_SHIFT:
        case VK_LSHIFT:
        case VK_RSHIFT:
            return 0;
        case VK_CONTROL:
        case VK_LCONTROL:
        case VK_RCONTROL:
            return 1;
        case VK_MENU:
        case VK_LMENU:
        case VK_RMENU:
            return 2;
        case VK_LWIN:
        case VK_RWIN:
            return 3;
        default:
            return -1;
    }
}

bool modifierHeldNow() {
    for (const int vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN}) {
        if (GetAsyncKeyState(vk) & 0x8000)
            return true;
    }
    return false;
}

LRESULT CALLBACK keyboardHook(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && hookTarget()) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        ChordState& state = chords();
        if (const int modifier = modifierIndex(key->vkCode); modifier >= 0)
            state.modifierDown[modifier] = down;
        if (CaptureKey* capture = captureKey(key->vkCode)) {
            if (down && !capture->down) {
                capture->chord = std::find(state.modifierDown.begin(), state.modifierDown.end(),
                                           true) != state.modifierDown.end();
            }
            capture->down = down;
            if (!down || !capture->chord) {
                // A copy: the receiver may stop the watch while it runs.
                const DesktopSession::KeyChanged target = hookTarget();
                target(static_cast<int>(key->vkCode), down);
            }
        }
    }
    return CallNextHookEx(nullptr, code, message, data);
}

class Win32Session final : public DesktopSession {
public:
    ~Win32Session() override {
        if (hook_ != nullptr)
            UnhookWindowsHookEx(hook_);
    }

    std::string kind() const override { return "win32"; }

    Bytes takeSnapshot(WindowHandle window, int width, int height) override {
        RECT rect{};
        if (window == 0) {
            // The primary monitor, at its origin.
            rect.right = GetSystemMetrics(SM_CXSCREEN);
            rect.bottom = GetSystemMetrics(SM_CYSCREEN);
        } else {
            const HWND hwnd = win32::toHwnd(window);
            if (!IsWindow(hwnd)) {
                failure_ = "the window is gone";
                return {};
            }
            rect = captureRect(hwnd);
        }
        std::string failure;
        Bytes image = grab(rect, width, height, failure);
        std::lock_guard lock(mutex_);
        failure_ = failure;
        return image;
    }

    std::optional<ScreenRect> snapshotArea(WindowHandle window) override {
        RECT rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (window != 0) {
            const HWND hwnd = win32::toHwnd(window);
            if (!IsWindow(hwnd))
                return std::nullopt;
            rect = captureRect(hwnd);
        }
        if (rect.right <= rect.left || rect.bottom <= rect.top)
            return std::nullopt;
        return ScreenRect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
    }

    WindowHandle foregroundWindow() override { return win32::fromHwnd(GetForegroundWindow()); }

    std::int32_t asyncKeyState(int virtualKey) override {
        const auto state = static_cast<std::uint16_t>(GetAsyncKeyState(virtualKey));
        CaptureKey* key = captureKey(static_cast<DWORD>(virtualKey));
        if (key == nullptr)
            return state;
        if (hook_ == nullptr) {
            // Polled only: a press is judged by the modifiers held when it is first seen.
            const bool downNow = (state & 0x8000) != 0;
            if ((downNow || (state & 1)) && !key->down)
                key->chord = modifierHeldNow();
            key->down = downNow;
        }
        // The hook judged this press; the decision stands until the key is pressed again (the
        // key state may still show it down a moment after the hook saw it go up).
        return key->chord ? 0 : state;
    }

    // GUI thread: the hook's calls arrive on the thread that set it, between its messages.
    bool watchCaptureKeys(KeyChanged changed) override {
        hookTarget() = std::move(changed);
        if (!hookTarget()) {
            if (hook_ != nullptr)
                UnhookWindowsHookEx(hook_);
            hook_ = nullptr;
            return false;
        }
        if (hook_ == nullptr) {
            // Modifiers already held when the hook starts are known only from the key state.
            ChordState& state = chords();
            state.modifierDown = {
                (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0,
                (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0,
                (GetAsyncKeyState(VK_MENU) & 0x8000) != 0,
                ((GetAsyncKeyState(VK_LWIN) | GetAsyncKeyState(VK_RWIN)) & 0x8000) != 0};
            hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, keyboardHook, GetModuleHandleW(nullptr), 0);
        }
        return hook_ != nullptr;
    }

    std::string lastFailure() const override {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    HHOOK hook_ = nullptr;
    mutable std::mutex mutex_;
    std::string failure_;
};

std::mutex& sessionMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<DesktopSession>& sessionSlot() {
    static std::unique_ptr<DesktopSession> session;
    return session;
}

}  // namespace

void prepareDisplayEnvironment() {}

DesktopSession& desktopSession() {
    std::lock_guard lock(sessionMutex());
    auto& slot = sessionSlot();
    if (!slot)
        slot = std::make_unique<Win32Session>();
    return *slot;
}

void setDesktopSession(std::unique_ptr<DesktopSession> session) {
    std::lock_guard lock(sessionMutex());
    sessionSlot() = std::move(session);
}

SnapshotImage takeSnapshot(WindowHandle window, int width, int height) {
    return desktopSession().takeSnapshot(window, width, height);
}

std::int32_t asyncKeyState(int virtualKey) {
    return desktopSession().asyncKeyState(virtualKey);
}

WindowHandle foregroundWindow() {
    return desktopSession().foregroundWindow();
}

// Window frames are the system's own here; nothing to ask a window manager.
bool canRequestFrameExtents() {
    return false;
}

std::optional<FrameExtents> requestFrameExtents(WindowHandle, int) {
    return std::nullopt;
}

}  // namespace lumora::platform

namespace lumora::platform::snapshot {

// The Windows heap keeps freed blocks for reuse on its own.
void keepCaptureBuffersResident() {}

}  // namespace lumora::platform::snapshot
