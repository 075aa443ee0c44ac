#include "platform/capture_files.h"

#include <windows.h>

#include <winternl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/win32/wide.h"

namespace lumora::platform {

namespace {

constexpr int kMaxCandidates = 100000;
constexpr wchar_t kPartPrefix[] = L".lumora-";
constexpr wchar_t kPartSuffix[] = L".part";

int errnoFor(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EIO;
    }
}

HANDLE handleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// The process id of a name of the exact pattern ".lumora-<pid>-<n>.part"; 0 for any other.
DWORD partOwner(const std::wstring& name) {
    const std::size_t prefix = wcslen(kPartPrefix), suffix = wcslen(kPartSuffix);
    if (name.size() <= prefix + suffix + 2 || name.compare(0, prefix, kPartPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kPartSuffix) != 0)
        return 0;
    const std::wstring middle = name.substr(prefix, name.size() - prefix - suffix);
    const std::size_t dash = middle.find(L'-');
    if (dash == 0 || dash == std::wstring::npos || dash + 1 == middle.size() || dash > 9)
        return 0;
    for (std::size_t i = 0; i < middle.size(); ++i) {
        if (i != dash && (middle[i] < L'0' || middle[i] > L'9'))
            return 0;
    }
    return static_cast<DWORD>(std::stoul(middle.substr(0, dash)));
}

// A name Windows takes as one plain file: none of its forbidden characters (a ':' would name an
// alternate data stream of another file), and not a device (CON, NUL, COM1.jpg, ...), which the
// system reserves whatever the extension.
bool validFileName(const std::string& name) {
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return isForbiddenInFileName(c) || isPathSeparator(c); }))
        return false;
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == device)
            return false;
    }
    return !(stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
             stem[3] >= '1' && stem[3] <= '9');
}

bool processRuns(DWORD pid) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's: leave its files be
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// Opens the folder `path` for as long as the handle is held: without FILE_SHARE_DELETE nobody
// can rename or remove it meanwhile, so the path keeps naming this folder. A reparse point (a
// link or junction) is opened as itself and refused, as is anything that is not a folder.
HANDLE holdPlainFolder(const std::wstring& path, bool* notPlain) {
    *notPlain = false;
    const HANDLE folder = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return folder;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(folder);
        *notPlain = true;
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

// Creates `name` inside the folder of the handle `folder`, as CREATE_NEW would: relative to the
// handle, so the folder's path plays no part (the handle-relative form of openat).
HANDLE createInFolder(HANDLE folder, const std::wstring& name) {
    UNICODE_STRING objectName{};
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE file = nullptr;
    constexpr ULONG kCreate = 0x00000002;                // FILE_CREATE
    constexpr ULONG kOptions = 0x00000040 | 0x00000020;  // non-directory, synchronous
    const NTSTATUS result =
        NtCreateFile(&file, GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                     &attributes, &status, nullptr, FILE_ATTRIBUTE_HIDDEN,
                     FILE_SHARE_READ | FILE_SHARE_DELETE, kCreate, kOptions, nullptr, 0);
    if (result < 0) {
        SetLastError(RtlNtStatusToDosError(result));
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// A name relative to a folder's handle goes to the system as it is: the Win32 call would make
// it a path first (Wine does so against the current directory).
bool renameByHandle(HANDLE file, FILE_RENAME_INFO* rename, std::size_t size) {
    if (rename->RootDirectory == nullptr)
        return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(size));
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = NtSetInformationFile(file, &status, rename, static_cast<ULONG>(size),
                                                 FileRenameInformation);
    if (result < 0) {
        SetLastError(RtlNtStatusToDosError(result));
        return false;
    }
    return true;
}

bool plainSubfolderName(const std::string& name) {
    return name.find_first_of("/\\:") == std::string::npos && name != "." && name != "..";
}

int removeLeftoversIn(const std::wstring& wideFolder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((wideFolder + L".lumora-*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    const DWORD self = GetCurrentProcessId();
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const DWORD owner = partOwner(found.cFileName);
        if (owner == 0 || owner == self || processRuns(owner))
            continue;
        if (DeleteFileW((wideFolder + found.cFileName).c_str()))
            ++removed;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}

}  // namespace

PartFile::~PartFile() {
    if (fd_ >= 0 && !published_) {
        // Marked for deletion through its own handle: the file this program wrote goes, even
        // if its name was taken over meanwhile.
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        SetFileInformationByHandle(handleOf(fd_), FileDispositionInfo, &dispose, sizeof dispose);
    }
    if (fd_ >= 0)
        _close(fd_);
    if (dirHandle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(dirHandle_));
}

void PartFile::fail(int errnoValue) {
    error_ = fileErrorText(errnoValue);
}

void PartFile::noteFailure(int errnoValue) {
    fail(errnoValue == 0 ? EIO : errnoValue);
}

bool PartFile::create(const std::string& folder, unsigned long sequence,
                      const std::string& subfolder) {
    if (folder.empty() || !plainSubfolderName(subfolder)) {
        fail(ENOENT);
        return false;
    }
    folder_ = folder;
    if (!subfolder.empty()) {
        const std::wstring path = win32::toWide(folder + subfolder);
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            fail(errnoFor(GetLastError()));
            return false;
        }
        bool notPlain = false;
        const HANDLE held = holdPlainFolder(path, &notPlain);
        if (held == INVALID_HANDLE_VALUE) {
            if (notPlain)
                error_ = kSubfolderNotPlain;
            else
                fail(errnoFor(GetLastError()));
            return false;
        }
        dirHandle_ = held;
        folder_ = folder + subfolder + "\\";
    }
    const std::wstring name = kPartPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(sequence) + kPartSuffix;
    // CREATE_NEW: whatever sits at that name is never opened; the file is ours from its
    // creation and only its handle is written. Not inherited by other programs. In a day
    // folder, relative to its handle.
    const HANDLE file = dirHandle_ != nullptr
                            ? createInFolder(static_cast<HANDLE>(dirHandle_), name)
                            : CreateFileW((win32::toWide(folder_) + name).c_str(),
                                          GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail(errnoFor(GetLastError()));
        return false;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd_ < 0) {
        CloseHandle(file);
        fail(EMFILE);
        return false;
    }
    name_ = win32::toUtf8(name);
    return true;
}

bool PartFile::write(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0)
        return false;
    const HANDLE file = handleOf(fd_);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
            fail(written == 0 && GetLastError() == ERROR_SUCCESS ? ENOSPC
                                                                 : errnoFor(GetLastError()));
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

std::string PartFile::publish(const std::string& base, const std::string& extension) {
    if (fd_ < 0)
        return {};
    const HANDLE file = handleOf(fd_);
    // The stream of an encoder may have written through the C library: its bytes are in the
    // file by now (the stream was closed), but the position does not matter to a rename.
    const std::wstring folder = win32::toWide(folder_);
    if (!validFileName(base + extension)) {
        fail(EINVAL);
        return {};
    }
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::string candidate =
            n == 1 ? base + extension : base + " (" + std::to_string(n) + ")" + extension;
        // In a day folder the name is given relative to the folder's handle.
        const std::wstring target =
            dirHandle_ != nullptr ? win32::toWide(candidate) : folder + win32::toWide(candidate);
        std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) +
                                         target.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = static_cast<HANDLE>(dirHandle_);
        rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, target.c_str(), target.size() * sizeof(wchar_t));
        // Renames the handle's own file, and never onto a taken name.
        if (renameByHandle(file, rename, buffer.size())) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
            published_ = true;
            _close(fd_);
            fd_ = -1;
            return folder_ + candidate;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            fail(errnoFor(error));
            return {};
        }
    }
    fail(EEXIST);
    return {};
}

int removeLeftoverPartFiles(const std::string& folder, const std::string& subfolder) {
    if (folder.empty() || !plainSubfolderName(subfolder))
        return 0;
    HANDLE held = nullptr;
    std::wstring wideFolder = win32::toWide(folder);
    if (!subfolder.empty()) {
        bool notPlain = false;
        held = holdPlainFolder(wideFolder + win32::toWide(subfolder), &notPlain);
        if (held == INVALID_HANDLE_VALUE)
            return 0;
        wideFolder += win32::toWide(subfolder) + L"\\";
    }
    const int removed = removeLeftoversIn(wideFolder);
    if (held != nullptr)
        CloseHandle(held);
    return removed;
}

}  // namespace lumora::platform
