#pragma once
// The few file calls the picture encoder needs that differ between systems: reading a source
// file at given offsets, telling what a source path is, and opening stdio streams for the
// encoder's output. Implemented in posix/ and win32/.

#include <cstdint>
#include <cstdio>
#include <string>

namespace lumora::platform::io {

enum class Source {
    Regular,       // a regular file that can be read
    Missing,       // no such file (or a folder on the way is missing)
    NotRegular,    // a folder, a device, a pipe
    SameAsTarget,  // the target path names the same file
    Unreadable,    // any other reason it cannot be looked at
};
Source inspectSource(const std::string& path, const std::string& target);

class SourceFile {
public:
    SourceFile() = default;
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    bool open(const std::string& path);
    std::uint64_t size() const { return size_; }
    // Exactly `count` bytes from `offset`; false on a read error or a short file.
    bool readAt(std::uint8_t* buffer, std::size_t count, std::uint64_t offset) const;

private:
    std::intptr_t handle_ = -1;
    std::uint64_t size_ = 0;
};

// A new (or truncated) file for writing, not inherited by child processes; null on failure.
std::FILE* createStream(const std::string& path);
// A stream writing through a copy of the descriptor `fd`, which stays open for its owner.
std::FILE* streamOnCopy(int fd);

}  // namespace lumora::platform::io
