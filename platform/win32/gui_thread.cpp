#include "platform/gui_thread.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32/message_window.h"

namespace lumora::platform {

namespace win32 {

namespace {

constexpr UINT kRunTask = WM_APP + 2;
constexpr wchar_t kClassName[] = L"LumoraMessageWindow";

HWND& windowSlot() {
    static HWND window = nullptr;
    return window;
}

std::function<void(WPARAM, LPARAM)>& trayHandler() {
    static std::function<void(WPARAM, LPARAM)> handler;
    return handler;
}

struct Timers {
    UINT_PTR nextId = 1;
    std::map<UINT_PTR, std::function<void()>> tasks;
};

std::function<void(WPARAM)>& sessionChangeHandler() {
    static std::function<void(WPARAM)> handler;
    return handler;
}

std::function<void()>& sessionEndHandler() {
    static std::function<void()> handler;
    return handler;
}

Timers& timers() {
    static Timers instance;
    return instance;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunTask: {
            std::unique_ptr<std::function<void()>> task(
                reinterpret_cast<std::function<void()>*>(lParam));
            if (task && *task)
                (*task)();
            return 0;
        }
        case WM_TIMER: {
            auto it = timers().tasks.find(wParam);
            if (it != timers().tasks.end()) {
                // A copy: the task may stop or restart its own timer.
                const std::function<void()> task = it->second;
                task();
            }
            return 0;
        }
        case WM_QUERYENDSESSION:
            return TRUE;  // nothing to ask the person: captures are finished as the session ends
        case WM_ENDSESSION:
            if (wParam) {
                // Once: the handler may run message loops that see a second notice.
                if (std::function<void()> handler = std::exchange(sessionEndHandler(), {}))
                    handler();
            }
            return 0;
        case kTrayMessage:
            if (trayHandler())
                trayHandler()(wParam, lParam);
            return 0;
        case WM_WTSSESSION_CHANGE:
            if (sessionChangeHandler())
                sessionChangeHandler()(wParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void startMessageWindow() {
    if (windowSlot() != nullptr)
        return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    // A top-level window that is never shown rather than a message-only one: the shell sends
    // the tray icon's messages, and broadcasts like TaskbarCreated, only to top-level windows.
    windowSlot() = CreateWindowExW(0, kClassName, L"Lumora", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
}

HWND messageWindow() {
    return windowSlot();
}

void setSessionEndHandler(std::function<void()> handler) {
    sessionEndHandler() = std::move(handler);
}

void setTrayMessageHandler(std::function<void(WPARAM, LPARAM)> handler) {
    trayHandler() = std::move(handler);
}

void setSessionChangeHandler(std::function<void(WPARAM)> handler) {
    sessionChangeHandler() = std::move(handler);
}

void dispatchMessage(MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void processMessagesUntil(ULONGLONG deadline) {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            dispatchMessage(message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

}  // namespace win32

void postToGuiThread(std::function<void()> task) {
    auto* boxed = new std::function<void()>(std::move(task));
    if (!PostMessageW(win32::messageWindow(), win32::kRunTask, 0, reinterpret_cast<LPARAM>(boxed)))
        delete boxed;  // the program is ending: its window is gone
}

struct RepeatingTimer::Impl {
    UINT_PTR id = 0;
};

RepeatingTimer::RepeatingTimer() : impl_(std::make_unique<Impl>()) {}

RepeatingTimer::~RepeatingTimer() {
    stop();
}

void RepeatingTimer::start(int milliseconds, std::function<void()> task) {
    stop();
    win32::Timers& all = win32::timers();
    impl_->id = all.nextId++;
    all.tasks[impl_->id] = std::move(task);
    SetTimer(win32::messageWindow(), impl_->id, static_cast<UINT>(std::max(milliseconds, 1)),
             nullptr);
}

void RepeatingTimer::stop() {
    if (impl_->id == 0)
        return;
    KillTimer(win32::messageWindow(), impl_->id);
    win32::timers().tasks.erase(impl_->id);
    impl_->id = 0;
}

bool RepeatingTimer::active() const {
    return impl_->id != 0;
}

void processEventsFor(int milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(milliseconds, 0));
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // The quit is the main loop's to see: put it back and stop waiting.
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace lumora::platform
