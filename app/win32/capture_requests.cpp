#include "app/capture_requests.h"

#include <windows.h>

#include <cstring>

#include "app/main_window.h"
#include "app/startup.h"
#include "capture/capture_and_save.h"
#include "platform/keys.h"

// Captures asked for by `lumora.exe --capture`: the running instance has a hidden window of a
// known class in the session; the command sends it WM_COPYDATA naming the target and a
// window of its own, and the instance answers there with WM_COPYDATA once the file is
// complete (dwData 1 and the path) or lost (dwData 0 and the cause).

namespace lumora::app {

namespace {

constexpr wchar_t kRequestClass[] = L"Velmora.Lumora.CaptureRequests";
constexpr wchar_t kAnswerClass[] = L"Velmora.Lumora.CaptureAnswers";
constexpr ULONG_PTR kCaptureScreen = 1;
constexpr ULONG_PTR kCaptureWindow = 2;
constexpr ULONG_PTR kShowWindow = 3;
constexpr ULONG_PTR kAnswerSaved = 1;
constexpr ULONG_PTR kAnswerNotSaved = 0;
// As on the session bus: long enough for a capture, short enough for a stuck instance.
constexpr DWORD kRequestTimeoutMs = 60'000;
// Taking a request is immediate for an instance that processes its messages; one that does not
// within this time is asked again until the command gives up.
constexpr UINT kTakeTimeoutMs = 600;

void answer(HWND to, ULONG_PTR status, const std::string& text) {
    COPYDATASTRUCT data{status, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(to, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                        &ignored);
}

LRESULT CALLBACK requestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const HWND replyTo = reinterpret_cast<HWND>(wParam);
    if (data->dwData == kShowWindow) {
        if (!programEnding())
            bringMainWindowBack();
        // The asking process shows its box next: it may take the foreground back from us.
        DWORD asker = 0;
        if (data->cbData == sizeof asker) {
            std::memcpy(&asker, data->lpData, sizeof asker);
            AllowSetForegroundWindow(asker);
        }
        return TRUE;
    }
    if (data->dwData != kCaptureScreen && data->dwData != kCaptureWindow)
        return FALSE;
    // Answered after this message returns: the sender waits in its own loop, not in here.
    const platform::WindowHandle target =
        data->dwData == kCaptureWindow ? platform::foregroundWindow() : 0;
    if (programEnding()) {
        PostMessageW(window, WM_APP, reinterpret_cast<WPARAM>(replyTo), 0);
        return TRUE;
    }
    if (data->dwData == kCaptureWindow && target == 0) {
        PostMessageW(window, WM_APP + 1, reinterpret_cast<WPARAM>(replyTo), 0);
        return TRUE;
    }
    capture::captureAndSave(target, CaptureKind::Manual,
                            [replyTo](const capture::CaptureOutcome& outcome) {
                                answer(replyTo, outcome.saved ? kAnswerSaved : kAnswerNotSaved,
                                       outcome.saved ? outcome.path : outcome.error);
                            });
    return TRUE;
}

LRESULT CALLBACK closingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        answer(reinterpret_cast<HWND>(wParam), kAnswerNotSaved, "Lumora is closing");
        return 0;
    }
    if (message == WM_APP + 1) {
        answer(reinterpret_cast<HWND>(wParam), kAnswerNotSaved, kNoFocusedWindow);
        return 0;
    }
    return requestProc(window, message, wParam, lParam);
}

struct Answer {
    bool received = false;
    ULONG_PTR status = kAnswerNotSaved;
    std::string text;
};

LRESULT CALLBACK answerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* answer = reinterpret_cast<Answer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (answer != nullptr && !answer->received) {
        answer->received = true;
        answer->status = data->dwData;
        answer->text.assign(static_cast<const char*>(data->lpData), data->cbData);
    }
    return TRUE;
}

HWND makeWindow(const wchar_t* className, WNDPROC proc) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

}  // namespace

std::string offerCaptureRequests() {
    if (makeWindow(kRequestClass, closingProc) == nullptr)
        return "no window for requests could be made (error " + std::to_string(GetLastError()) +
               ")";
    return {};
}

std::string whereRequestsGo() {
    return "in this desktop (it may run in another desktop or session)";
}

RequestAnswer requestCapture(CaptureTarget target) {
    const HWND instance = FindWindowExW(HWND_MESSAGE, nullptr, kRequestClass, nullptr);
    if (instance == nullptr)
        return {RequestAnswer::Gone, "no running Lumora takes requests"};
    const HWND own = makeWindow(kAnswerClass, answerProc);
    if (own == nullptr)
        return {RequestAnswer::Failed, "no window for the answer could be made"};
    Answer received;
    SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
    COPYDATASTRUCT request{target == CaptureTarget::Window ? kCaptureWindow : kCaptureScreen, 0,
                           nullptr};
    DWORD_PTR accepted = 0;
    if (!SendMessageTimeoutW(instance, WM_COPYDATA, reinterpret_cast<WPARAM>(own),
                             reinterpret_cast<LPARAM>(&request), SMTO_ABORTIFHUNG, kTakeTimeoutMs,
                             &accepted) ||
        accepted == 0) {
        DestroyWindow(own);
        return {RequestAnswer::Gone, "the running Lumora did not take the request"};
    }
    const ULONGLONG giveUp = GetTickCount64() + kRequestTimeoutMs;
    while (!received.received && GetTickCount64() < giveUp) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DestroyWindow(own);
    if (!received.received)
        return {RequestAnswer::Failed, "no answer within a minute"};
    if (received.status == kAnswerSaved)
        return {RequestAnswer::Saved, received.text};
    return {RequestAnswer::NotSaved, received.text};
}

bool askRunningInstanceToShowWindow() {
    const HWND instance = FindWindowExW(HWND_MESSAGE, nullptr, kRequestClass, nullptr);
    if (instance == nullptr)
        return false;
    // Windows lets a program take the foreground only when the one in front allows it.
    DWORD process = 0;
    GetWindowThreadProcessId(instance, &process);
    AllowSetForegroundWindow(process);
    DWORD self = GetCurrentProcessId();
    COPYDATASTRUCT request{kShowWindow, sizeof self, &self};
    DWORD_PTR accepted = 0;
    if (SendMessageTimeoutW(instance, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request),
                            SMTO_ABORTIFHUNG, 3000, &accepted) == 0 ||
        accepted == 0)
        return false;
    // The window comes to the front asynchronously (under a window manager, when it has
    // handled the request): a box shown before that would end up behind it, without the focus.
    const ULONGLONG giveUp = GetTickCount64() + 1500;
    for (;;) {
        DWORD front = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &front);
        if (front == process || GetTickCount64() >= giveUp)
            break;
        Sleep(20);
    }
    return true;
}

}  // namespace lumora::app
