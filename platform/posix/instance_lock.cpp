#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/lock_file.h"
#include "platform/registry.h"

namespace lumora::platform {

namespace {

namespace fs = std::filesystem;

// The runtime folder only when it is what the XDG rules promise: ours and private.
std::string runtimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (!dir || dir[0] != '/' || lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid() || (st.st_mode & 077) != 0)
        return {};
    return dir;
}

// One lock per store: two stores (two configuration folders) may each have their instance.
std::string lockPath() {
    const std::string store = storeFolder();
    if (store.empty())
        return {};
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(store, ec);
    const std::string identity = ec ? store : canonical.string();
    if (const std::string runtime = runtimeFolder(); !runtime.empty()) {
        std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
        for (unsigned char c : identity)
            hash = (hash ^ c) * 1099511628211ull;
        char name[64];
        std::snprintf(name, sizeof name, "/lumora-%016llx.lock",
                      static_cast<unsigned long long>(hash));
        return runtime + name;
    }
    const fs::path beside = fs::path(store).parent_path();
    fs::create_directories(beside, ec);
    return (beside / "instance.lock").string();
}

constexpr std::string_view kCommandMark = "command\n";
constexpr std::string_view kInstanceMark = "instance\n";

// What the holder wrote into the lock file: whether it is a one-off command.
bool heldByCommand(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    char text[16] = {};
    const ssize_t n = read(fd, text, sizeof text);
    close(fd);
    return n == static_cast<ssize_t>(kCommandMark.size()) &&
           std::string_view(text, static_cast<std::size_t>(n)) == kCommandMark;
}

}  // namespace

InstanceLock takeInstanceLock(LockHolder as) {
    static int held = -1;  // kept open, and so locked, until the process ends
    if (held >= 0)
        return InstanceLock::Held;
    const std::string path = lockPath();
    if (path.empty())
        return InstanceLock::Unavailable;
    held = lockFile(path, 0);
    if (held >= 0) {
        const std::string_view mark = as == LockHolder::Command ? kCommandMark : kInstanceMark;
        if (ftruncate(held, 0) != 0 || pwrite(held, mark.data(), mark.size(), 0) < 0) {
            // Unmarked, the holder reads as a running program: the safe side.
        }
        return InstanceLock::Held;
    }
    if (errno != EWOULDBLOCK)
        return InstanceLock::Unavailable;
    return heldByCommand(path) ? InstanceLock::HeldByCommand : InstanceLock::HeldByAnother;
}

}  // namespace lumora::platform
