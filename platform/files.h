#pragma once
// File attributes and deletion, the program's own location, the process list.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::platform {

// Bits masked to 0x27: read-only (1) removes every write permission bit, its absence restores
// the owner's write bit; hidden (2), system (4) and archive (0x20) change nothing on Linux.
// False for a missing file.
bool setFileAttributes(const std::string& path, std::uint32_t bits);
// unlink; false for a missing file or a directory.
bool deleteFile(const std::string& path);

// The folder of /proc/self/exe without a trailing "/", and the file name alone.
std::string programDirectory();
std::string programFileName();

// The system's path rules: whether `path` is absolute ("/x"; on Windows "C:\x" or
// "\\server\x"), whether `c` separates folders ("/"; on Windows "\" and "/" too), and `folder`
// ending with a separator.
bool isAbsolutePath(std::string_view path);
bool isPathSeparator(char c);
// Whether the system refuses `c` in any file name, besides the separators and NUL: on Windows
// < > : " | ? * and the control characters; nothing elsewhere (a folder of another file system,
// a memory stick or a network share, may still refuse some: the capture then says so).
bool isForbiddenInFileName(char c);
std::string withTrailingSeparator(std::string folder);

// The capture folder at start-up and after a cancelled folder dialog, ending with "/": the
// program's directory when the user may write there, else the user's pictures folder
// (XDG_PICTURES_DIR, else $HOME/Pictures; created when missing).
std::string defaultCaptureFolder();

struct ProcessRecord {
    std::uint32_t processId = 0;
    std::string executableName;  // file name only
    std::uint32_t moduleId = 0;
    std::uint32_t parentProcessId = 0;
    std::int32_t basePriority = 0;  // the kernel's priority: 20 + nice for ordinary processes
    std::uint32_t threadCount = 0;
    std::uint32_t userId = 0;  // the real user
    bool zombie = false;       // ended, waiting for its parent: no longer running
};

// One record per process in ascending pid order; empty when /proc cannot be read.
std::vector<ProcessRecord> listProcesses();
// The arguments process `pid` was started with, its program first; empty when unknown.
std::vector<std::string> processArguments(std::uint32_t pid);
// The real user of this process.
std::uint32_t currentUserId();

namespace detail {
// defaultCaptureFolder with its inputs given: the program's directory, the home folder and the
// XDG configuration folder (where user-dirs.dirs lives).
std::string captureFolderFor(const std::string& programDir, const std::string& home,
                             const std::string& configHome);
}  // namespace detail

}  // namespace lumora::platform
