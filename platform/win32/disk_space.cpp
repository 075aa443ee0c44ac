#include "platform/disk_space.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace lumora::platform {

std::optional<DiskSpace> diskSpace(const std::string& folder) {
    ULARGE_INTEGER available{}, total{};
    // The caller's share: quotas count, as they do for the files it writes.
    if (!GetDiskFreeSpaceExW(win32::toWide(folder).c_str(), &available, &total, nullptr))
        return std::nullopt;
    return DiskSpace{available.QuadPart, total.QuadPart};
}

}  // namespace lumora::platform
