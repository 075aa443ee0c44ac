#include "platform/files.h"

#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>

#include "platform/instance_lock.h"
#include "platform/user_dirs.h"
#include "platform/win32/wide.h"

namespace lumora::platform {

namespace fs = std::filesystem;

namespace {

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path != nullptr)
        result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool startsWithFolder(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || path.size() < folder.size())
        return false;
    if (CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                             static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\' || folder.back() == L'\\';
}

// Whether a new file can be made in `folder`: tried, since rights on Windows come from lists
// that only the system evaluates.
bool canCreateIn(const std::wstring& folder) {
    const std::wstring probe =
        folder + L"\\.lumora-probe-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE file = CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

}  // namespace

bool setFileAttributes(const std::string& path, std::uint32_t bits) {
    return SetFileAttributesW(win32::toWide(path).c_str(),
                              (bits & 0x27) == 0 ? FILE_ATTRIBUTE_NORMAL : (bits & 0x27)) != 0;
}

bool deleteFile(const std::string& path) {
    return DeleteFileW(win32::toWide(path).c_str()) != 0;
}

std::string programDirectory() {
    const std::wstring path = modulePath();
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::string() : win32::toUtf8(path.substr(0, slash));
}

std::string programFileName() {
    const std::wstring path = modulePath();
    const std::size_t slash = path.rfind(L'\\');
    return win32::toUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

bool isAbsolutePath(std::string_view path) {
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.starts_with("\\\\");
}

bool isPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isForbiddenInFileName(char c) {
    return static_cast<unsigned char>(c) < 0x20 ||
           std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
}

std::string withTrailingSeparator(std::string folder) {
    if (!folder.empty() && !isPathSeparator(folder.back()))
        folder += '\\';
    return folder;
}

std::string defaultCaptureFolder() {
    return detail::captureFolderFor(programDirectory(), homeDirectory(), configHome());
}

namespace detail {

// On Windows: the program's folder unless it lies among the installed programs or the system,
// or the user may not create files there; else the user's Pictures folder, else the profile.
std::string captureFolderFor(const std::string& programDir, const std::string& home,
                             const std::string&) {
    const std::wstring program = win32::toWide(programDir);
    bool systemFolder = false;
    for (REFKNOWNFOLDERID id :
         {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramData, FOLDERID_Windows})
        systemFolder = systemFolder || startsWithFolder(program, knownFolder(id));
    if (!program.empty() && !systemFolder && canCreateIn(program))
        return withTrailingSeparator(programDir);
    std::error_code ec;
    const std::wstring pictures = knownFolder(FOLDERID_Pictures);
    if (!pictures.empty() && fs::is_directory(fs::path(pictures), ec))
        return withTrailingSeparator(win32::toUtf8(pictures));
    if (!home.empty())
        return withTrailingSeparator(home);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return withTrailingSeparator(win32::toUtf8(temp));
}

}  // namespace detail

// Processes of every user are listed; "user" is the session a process runs in, which is what
// tells one person's programs from another's on a shared machine.
std::vector<ProcessRecord> listProcesses() {
    std::vector<ProcessRecord> records;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return records;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        ProcessRecord r;
        r.processId = entry.th32ProcessID;
        r.executableName = win32::toUtf8(entry.szExeFile);
        r.parentProcessId = entry.th32ParentProcessID;
        r.basePriority = entry.pcPriClassBase;
        r.threadCount = entry.cntThreads;
        DWORD session = 0;
        r.userId = ProcessIdToSessionId(entry.th32ProcessID, &session) ? session : 0xFFFFFFFFu;
        records.push_back(std::move(r));
    }
    CloseHandle(snapshot);
    std::sort(records.begin(), records.end(), [](const ProcessRecord& a, const ProcessRecord& b) {
        return a.processId < b.processId;
    });
    return records;
}

std::uint32_t currentUserId() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
}

std::string homeDirectory() {
    const std::wstring profile = knownFolder(FOLDERID_Profile);
    return win32::toUtf8(profile);
}

std::string configHome() {
    return win32::toUtf8(knownFolder(FOLDERID_RoamingAppData));
}

// A named mutex in the session's own namespace ("Local\"): one instance per person signed in,
// whichever folder it was started from. Kept until the process ends. A one-off command takes
// the same mutex for its capture; the kind of holder is not told apart here.
InstanceLock takeInstanceLock(LockHolder) {
    static HANDLE mutex = nullptr;
    if (mutex != nullptr)
        return InstanceLock::Held;
    const HANDLE handle = CreateMutexW(nullptr, FALSE, L"Local\\Velmora.Lumora.Krel-V1.10");
    if (handle == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED ? InstanceLock::HeldByAnother
                                                     : InstanceLock::Unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return InstanceLock::HeldByAnother;
    }
    mutex = handle;
    return InstanceLock::Held;
}

// Another process's command line is not readable without rights over it; callers treat an
// empty answer as unknown.
std::vector<std::string> processArguments(std::uint32_t) {
    return {};
}

}  // namespace lumora::platform
