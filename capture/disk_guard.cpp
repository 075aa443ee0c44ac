#include "capture/disk_guard.h"

#include <algorithm>
#include <cstdio>

#include "platform/shell.h"

namespace lumora::capture {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

bool& paused() {
    static bool value = false;
    return value;
}

void say(const std::string& title, const std::string& text, const std::string& line) {
    platform::showTrayMessage(title, text, true);
    std::fprintf(stderr, "lumora: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

std::uint64_t freeSpaceFloor(std::uint64_t totalBytes) {
    return std::min(kGiB, totalBytes / 10);
}

std::string spaceText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= kGiB)
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / kGiB);
    else
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / kMiB);
    return text;
}

bool scheduledCapturesHaveRoom(const std::string& folder,
                               const std::optional<platform::DiskSpace>& space) {
    if (!space)
        return !paused();  // nothing new to go by
    const std::uint64_t floor = freeSpaceFloor(space->total);
    const std::uint64_t margin = std::min<std::uint64_t>(64 * kMiB, space->total / 100);
    const std::string free = spaceText(space->available);
    if (!paused() && space->available < floor) {
        paused() = true;
        say("定时截图已暂停",
            "保存目录所在的磁盘只剩 " + free +
                " 可用空间，为了不把磁盘占满，定时截图和间断截图暂停了。\n" +
                "腾出空间后会自动继续；按键截图不受影响。\n保存目录：" + folder,
            "scheduled captures paused: only " + free + " free on the disk of " + folder +
                " (they need " + spaceText(floor) + ")");
    } else if (paused() && space->available >= floor + margin) {
        paused() = false;
        say("定时截图已继续",
            "保存目录所在的磁盘现在有 " + free +
                " 可用空间，定时截图和间断截图继续进行。\n保存目录：" + folder,
            "scheduled captures resumed: " + free + " free on the disk of " + folder);
    }
    return !paused();
}

bool scheduledCapturesHaveRoom(const std::string& folder) {
    return scheduledCapturesHaveRoom(folder, platform::diskSpace(folder));
}

}  // namespace lumora::capture
