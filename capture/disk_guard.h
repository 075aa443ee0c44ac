#pragma once
// Scheduled captures never fill the disk: below a floor of free space on the capture folder's
// file system they pause, and they go on by themselves once the space is back. Key presses and
// requests still try (a loss is reported as any other). GUI thread only.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/disk_space.h"

namespace lumora::capture {

// The floor: 1 GiB, or a tenth of the file system where that is less.
std::uint64_t freeSpaceFloor(std::uint64_t totalBytes);

// Whether scheduled captures may write into `folder` now, by `space` (nothing: the folder
// cannot be asked about, and a capture finds out for itself). Pausing and going on are each
// said once, in the tray and on standard error, with the free space. Going on waits for a
// little more than the floor, so a capture that lands right at it does not flip the state at
// every tick.
bool scheduledCapturesHaveRoom(const std::string& folder,
                               const std::optional<platform::DiskSpace>& space);
// The same for the file system as it is now.
bool scheduledCapturesHaveRoom(const std::string& folder);

// "812 MB", "1.5 GB": an amount of bytes for a person.
std::string spaceText(std::uint64_t bytes);

}  // namespace lumora::capture
