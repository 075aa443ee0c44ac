#include "platform/disk_space.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace lumora::platform {

std::optional<DiskSpace> diskSpace(const std::string& folder) {
    struct statvfs info {};
    int result;
    do {
        result = ::statvfs(folder.c_str(), &info);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return std::nullopt;
    const std::uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    // f_bavail: what an ordinary user may write, leaving out the blocks kept for root.
    return DiskSpace{static_cast<std::uint64_t>(info.f_bavail) * unit,
                     static_cast<std::uint64_t>(info.f_blocks) * unit};
}

}  // namespace lumora::platform
