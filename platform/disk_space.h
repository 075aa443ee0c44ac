#pragma once
// How much room the file system of a folder has left, asked cheaply enough to do before every
// scheduled capture.
#include <cstdint>
#include <optional>
#include <string>

namespace lumora::platform {

struct DiskSpace {
    std::uint64_t available = 0;  // bytes this user may still write
    std::uint64_t total = 0;      // bytes the file system holds in all
};

// The file system holding `folder`; nothing when the folder cannot be asked about (it does not
// exist, ...). Any thread.
std::optional<DiskSpace> diskSpace(const std::string& folder);

}  // namespace lumora::platform
