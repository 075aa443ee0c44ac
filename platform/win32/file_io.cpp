#include "platform/file_io.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "platform/image_encoding.h"
#include "platform/win32/wide.h"

namespace lumora::platform {

namespace {

bool writeAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool writeFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
    return writeFileBytes(path, {data});
}

// Another writer holding the file (no sharing of writes) keeps it intact: the open fails
// before anything is truncated.
bool writeFileBytes(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> pieces) {
    if (path.empty())
        return false;
    const HANDLE file = CreateFileW(win32::toWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileType(file) != FILE_TYPE_DISK || SetEndOfFile(file);
    for (const auto& piece : pieces) {
        if (ok && !piece.empty())
            ok = writeAll(file, piece.data(), piece.size());
    }
    return CloseHandle(file) && ok;
}

namespace io {

Source inspectSource(const std::string& path, const std::string& target) {
    const HANDLE file = CreateFileW(win32::toWide(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Source::Missing
                                                                              : Source::Unreadable;
    }
    BY_HANDLE_FILE_INFORMATION source{};
    const bool known = GetFileInformationByHandle(file, &source);
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (!known)
        return Source::Unreadable;
    const HANDLE other = CreateFileW(win32::toWide(target).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool same = GetFileInformationByHandle(other, &info) &&
                          info.dwVolumeSerialNumber == source.dwVolumeSerialNumber &&
                          info.nFileIndexHigh == source.nFileIndexHigh &&
                          info.nFileIndexLow == source.nFileIndexLow;
        CloseHandle(other);
        if (same)
            return Source::SameAsTarget;
    }
    if (type != FILE_TYPE_DISK || (source.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Source::NotRegular;
    return Source::Regular;
}

SourceFile::~SourceFile() {
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool SourceFile::open(const std::string& path) {
    const HANDLE file = CreateFileW(win32::toWide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        return false;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool SourceFile::readAt(std::uint8_t* buffer, std::size_t count, std::uint64_t offset) const {
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (!ReadFile(file, buffer, chunk, &got, &at) || got == 0)
            return false;
        buffer += got;
        count -= got;
        offset += got;
    }
    return true;
}

std::FILE* createStream(const std::string& path) {
    return _wfopen(win32::toWide(path).c_str(), L"wb");
}

std::FILE* streamOnCopy(int fd) {
    const int copy = _dup(fd);
    if (copy < 0)
        return nullptr;
    _setmode(copy, _O_BINARY);
    std::FILE* out = _fdopen(copy, "wb");
    if (out == nullptr)
        _close(copy);
    return out;
}

}  // namespace io

}  // namespace lumora::platform
