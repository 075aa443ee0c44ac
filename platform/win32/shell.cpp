#include "platform/shell.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "platform/shell_icon.h"
#include "platform/shell_testing.h"
#include "platform/win32/message_window.h"
#include "platform/win32/wide.h"

namespace lumora::platform {

namespace {

// The windows of this process that are not the hidden message window: a modal dialog
// disables them, as the Qt build does, and an owner keeps the dialog in front of them.
HWND dialogOwner() {
    HWND active = GetActiveWindow();
    if (active != nullptr && active != win32::messageWindow())
        return active;
    return nullptr;
}

struct Tray {
    UINT id = 0;
    HICON icon = nullptr;
    std::wstring tip;
};

struct Trays {
    std::map<WindowHandle, Tray> icons;
    UINT nextId = 1;
    std::function<void(WindowHandle, int)> sink;
    int messagesShown = 0;
    std::string lastMessage;
};

Trays& trays() {
    static Trays instance;
    return instance;
}

NOTIFYICONDATAW iconData(const Tray& tray) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = win32::messageWindow();
    data.uID = tray.id;
    return data;
}

// The size of a small icon in the notification area: 16 pixels at 96 dpi, 24 at 144, 32 at 192.
// The system's DPI is the taskbar's; a process aware of each screen's DPI is otherwise given
// the 96-dpi metrics by some systems.
int trayIconSize() {
    using SystemDpi = UINT(WINAPI*)();
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    const auto systemDpi = reinterpret_cast<SystemDpi>(
        reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForSystem")));
    const auto forDpi = reinterpret_cast<MetricsForDpi>(
        reinterpret_cast<void*>(GetProcAddress(user, "GetSystemMetricsForDpi")));
    const int size = systemDpi != nullptr && forDpi != nullptr ? forDpi(SM_CXSMICON, systemDpi())
                                                               : GetSystemMetrics(SM_CXSMICON);
    return size > 0 ? size : 16;
}

HICON makeIcon(std::span<const std::uint8_t> ico) {
    const std::vector<detail::IcoEntry> entries = detail::readIcoDirectory(ico);
    const int size = trayIconSize();
    const auto entry = detail::selectIcoEntryForSize(entries, size);
    if (!entry)
        return nullptr;
    // At 96 dpi the entry as it is; elsewhere made to the size the notification area shows.
    const int width = size > 16 ? size : entry->width;
    const int height = size > 16 ? size : entry->height;
    return CreateIconFromResourceEx(const_cast<PBYTE>(ico.data() + entry->offset),
                                    static_cast<DWORD>(entry->size), TRUE, 0x00030000, width,
                                    height, LR_DEFAULTCOLOR);
}

// The icon's mouse messages (the version 0 callback: lParam is the mouse message) as the
// program's tray events: 1 left click, 2 double click, 3 right click or the menu key.
void onTrayMessage(WPARAM id, LPARAM message) {
    int event = 0;
    switch (LOWORD(message)) {
        case WM_LBUTTONUP:
            event = 1;
            break;
        case WM_LBUTTONDBLCLK:
            event = 2;
            break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            event = 3;
            break;
        default:
            return;
    }
    for (const auto& [owner, tray] : trays().icons) {
        if (tray.id == id && trays().sink) {
            // The menu that follows must be in front, and close when the person clicks
            // elsewhere: the owner becomes the foreground window first.
            if (event == 3)
                SetForegroundWindow(win32::toHwnd(owner));
            const auto sink = trays().sink;
            sink(owner, event);
            return;
        }
    }
}

std::optional<std::uint32_t>& schemeColour() {
    static std::optional<std::uint32_t> colour;
    return colour;
}

}  // namespace

namespace {

// The shell item of `folder`, or of the nearest folder above it that exists; null when none
// does (the chooser then opens where Windows last left it).
IShellItem* existingFolderItem(std::string_view folder) {
    std::wstring path = win32::toWide(folder);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    while (!path.empty()) {
        // "C:\" keeps its separator; any other folder loses a trailing one.
        if (path.size() > 3 && path.back() == L'\\') {
            path.pop_back();
            continue;
        }
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            IShellItem* item = nullptr;
            if (SUCCEEDED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item))))
                return item;
            return nullptr;
        }
        const auto cut = path.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut + 1 == path.size())
            return nullptr;
        path.resize(cut + 1);
    }
    return nullptr;
}

}  // namespace

std::string browseForFolder(std::string_view title, bool includeFiles,
                            std::string_view startFolder) {
    (void)includeFiles;  // the Windows folder chooser lists the files of a folder anyway
    std::string chosen;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    IFileDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&dialog)))) {
        DWORD options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
        if (!title.empty())
            dialog->SetTitle(win32::toWide(title).c_str());
        // SetFolder, not SetDefaultFolder: the folder in use now wins over the one Windows
        // remembers from the last time the chooser was used.
        if (IShellItem* start = existingFolderItem(startFolder)) {
            dialog->SetFolder(start);
            start->Release();
        }
        if (SUCCEEDED(dialog->Show(dialogOwner()))) {
            IShellItem* item = nullptr;
            if (SUCCEEDED(dialog->GetResult(&item))) {
                PWSTR path = nullptr;
                if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path != nullptr)
                    chosen = win32::toUtf8(path);
                CoTaskMemFree(path);
                item->Release();
            }
        }
        dialog->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    // "C:\" stays as it is; other folders lose a trailing separator.
    if (chosen.size() > 3 && (chosen.back() == '\\' || chosen.back() == '/'))
        chosen.pop_back();
    return chosen;
}

int openInShell(std::string_view path, int verb, std::string_view parameters,
                std::string_view folder, int show) {
    const wchar_t* verbs[] = {L"open", L"explore", L"edit", L"print"};
    const wchar_t* verbText = verb >= 0 && verb < 4 ? verbs[verb] : L"open";
    const std::wstring widePath = win32::toWide(path);
    const std::wstring wideParameters = win32::toWide(parameters);
    const std::wstring wideFolder = win32::toWide(folder);
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        dialogOwner(), verbText, widePath.c_str(),
        wideParameters.empty() ? nullptr : wideParameters.c_str(),
        wideFolder.empty() ? nullptr : wideFolder.c_str(), show == 0 ? SW_SHOWNORMAL : show));
    return result > 32 ? static_cast<int>(result) : 2;
}

void openWebAddress(std::string_view address) {
    openInShell(address);
}

// The style bits are MessageBoxW's own; its answers (IDOK 1 ... IDNO 7) are one above the
// program's (0 OK ... 6 No).
int showMessage(std::string_view text, int style, std::optional<std::string_view> title) {
    const std::wstring wideTitle = win32::toWide(title ? *title : std::string_view("信息："));
    const int answer = MessageBoxW(dialogOwner(), win32::toWide(text).c_str(), wideTitle.c_str(),
                                   static_cast<UINT>(style & 0xFF) | MB_SETFOREGROUND);
    return answer > 0 ? answer - 1 : 1;
}

void setTrayIcon(WindowHandle owner, std::span<const std::uint8_t> icon, std::string_view tip) {
    Trays& all = trays();
    win32::setTrayMessageHandler(onTrayMessage);
    auto it = all.icons.find(owner);
    const HICON made = icon.empty() ? nullptr : makeIcon(icon);
    if (made == nullptr) {
        if (it != all.icons.end()) {
            NOTIFYICONDATAW data = iconData(it->second);
            Shell_NotifyIconW(NIM_DELETE, &data);
            DestroyIcon(it->second.icon);
            all.icons.erase(it);
        }
        return;
    }
    const bool added = it != all.icons.end();
    if (!added)
        it = all.icons.emplace(owner, Tray{all.nextId++, nullptr, {}}).first;
    Tray& tray = it->second;
    if (tray.icon != nullptr)
        DestroyIcon(tray.icon);
    tray.icon = made;
    tray.tip = win32::toWide(detail::cutAtCharacterBoundary(tip, 62));
    NOTIFYICONDATAW data = iconData(tray);
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = win32::kTrayMessage;
    data.hIcon = tray.icon;
    wcsncpy(data.szTip, tray.tip.c_str(), std::size(data.szTip) - 1);
    if (!Shell_NotifyIconW(added ? NIM_MODIFY : NIM_ADD, &data) && !added) {
        DestroyIcon(tray.icon);
        all.icons.erase(it);
    }
}

void setTrayEventSink(std::function<void(WindowHandle owner, int event)> sink) {
    trays().sink = std::move(sink);
}

bool hasTrayIcon(WindowHandle owner) {
    return trays().icons.contains(owner);
}

bool trayHostPresent() {
    // The taskbar's notification area; an icon it accepted proves it too.
    return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr || !trays().icons.empty();
}

bool showTrayMessage(std::string_view title, std::string_view text, bool warning) {
    Trays& all = trays();
    if (all.icons.empty())
        return false;
    NOTIFYICONDATAW data = iconData(all.icons.begin()->second);
    data.uFlags = NIF_INFO;
    wcsncpy(data.szInfoTitle, win32::toWide(detail::cutAtCharacterBoundary(title, 63)).c_str(),
            std::size(data.szInfoTitle) - 1);
    wcsncpy(data.szInfo, win32::toWide(detail::cutAtCharacterBoundary(text, 255)).c_str(),
            std::size(data.szInfo) - 1);
    data.dwInfoFlags = warning ? NIIF_WARNING : NIIF_INFO;
    if (!Shell_NotifyIconW(NIM_MODIFY, &data))
        return false;
    ++all.messagesShown;
    all.lastMessage = std::string(title) + "\n" + std::string(text);
    return true;
}

bool setWindowAlpha(WindowHandle window, int opacity) {
    const HWND hwnd = win32::toHwnd(window);
    DWORD process = 0;
    if (!IsWindow(hwnd) ||
        (GetWindowThreadProcessId(hwnd, &process), process) != GetCurrentProcessId())
        return false;
    if (opacity < 0 || opacity > 255)
        opacity = 255;
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    return SetLayeredWindowAttributes(hwnd, 0, static_cast<BYTE>(opacity), LWA_ALPHA) != 0;
}

void delayWithEvents(int milliseconds) {
    win32::processMessagesUntil(GetTickCount64() +
                                static_cast<ULONGLONG>(std::max(milliseconds, 0)));
}

// The colours are kept for the runtime to draw the frames of its controls with.
bool applyControlScheme(int scheme) {
    static const std::uint32_t colours[] = {0x7B9EBD, 0xA4B97F, 0xC6C5D7};
    if (scheme >= 1 && scheme <= 3)
        schemeColour() = colours[scheme - 1];
    else
        schemeColour().reset();
    for (HWND window = GetTopWindow(nullptr); window != nullptr;
         window = GetNextWindow(window, GW_HWNDNEXT)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            InvalidateRect(window, nullptr, TRUE);
    }
    return true;
}

namespace testing {

std::optional<std::uint32_t> controlSchemeFrameColour() {
    return schemeColour();
}

int trayMessagesShown() {
    return trays().messagesShown;
}

std::string lastTrayMessage() {
    return trays().lastMessage;
}

int trayIconWidth(WindowHandle owner) {
    const auto found = trays().icons.find(owner);
    ICONINFO info{};
    if (found == trays().icons.end() || !GetIconInfo(found->second.icon, &info))
        return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr)
        DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

}  // namespace testing

}  // namespace lumora::platform
