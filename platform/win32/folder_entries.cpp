#include "platform/folder_entries.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace lumora::platform {

namespace {

// FILETIME counts 100 ns steps from 1601-01-01 UTC.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

std::int64_t nanoseconds(const FILETIME& t) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (ticks - kUnixEpochIn100ns) * 100;
}

FolderEntry entryOf(std::string name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow,
                    const FILETIME& written) {
    FolderEntry entry;
    entry.name = std::move(name);
    // A reparse point (a symbolic link, a junction, a mount point) is never looked through.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        entry.kind = FolderEntry::Kind::Other;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        entry.kind = FolderEntry::Kind::Folder;
    else if (attributes & FILE_ATTRIBUTE_DEVICE)
        entry.kind = FolderEntry::Kind::Other;
    else {
        entry.kind = FolderEntry::Kind::File;
        entry.bytes = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
        entry.modified = nanoseconds(written);
    }
    return entry;
}

std::wstring withSeparator(std::wstring path) {
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return path;
}

// The place as a path ending with a separator; empty when its subfolder is not a real folder.
std::wstring placePath(const FolderPlace& place) {
    std::wstring path = withSeparator(win32::toWide(place.folder));
    if (place.subfolder.empty())
        return path;
    path += win32::toWide(place.subfolder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    return withSeparator(std::move(path));
}

}  // namespace

bool listFolderEntries(const FolderPlace& place,
                       const std::function<bool(std::string_view name)>& wanted,
                       std::vector<FolderEntry>& entries) {
    const std::wstring path = placePath(place);
    if (path.empty())
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((path + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root
    do {
        const std::wstring_view wide = found.cFileName;
        if (wide == L"." || wide == L"..")
            continue;
        std::string name = win32::toUtf8(wide);
        if (!wanted(name))
            continue;
        entries.push_back(entryOf(std::move(name), found.dwFileAttributes, found.nFileSizeHigh,
                                  found.nFileSizeLow, found.ftLastWriteTime));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

std::optional<FolderEntry> inspectFolderEntry(const FolderPlace& place, const std::string& name) {
    const std::wstring path = placePath(place);
    WIN32_FILE_ATTRIBUTE_DATA data;
    // The attributes of a link are its own: nothing here follows it.
    if (path.empty() ||
        !GetFileAttributesExW((path + win32::toWide(name)).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return entryOf(name, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                   data.ftLastWriteTime);
}

RemoveOutcome removeFileIfUnchanged(const FolderPlace& place, const std::string& name,
                                    std::uint64_t bytes, std::int64_t modified) {
    const std::optional<FolderEntry> entry = inspectFolderEntry(place, name);
    if (!entry) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? RemoveOutcome::Gone
                   : RemoveOutcome::Changed;
    }
    if (entry->kind != FolderEntry::Kind::File || entry->bytes != bytes ||
        entry->modified != modified)
        return RemoveOutcome::Changed;
    if (!DeleteFileW((placePath(place) + win32::toWide(name)).c_str()))
        return GetLastError() == ERROR_FILE_NOT_FOUND ? RemoveOutcome::Gone : RemoveOutcome::Failed;
    return RemoveOutcome::Removed;
}

}  // namespace lumora::platform
