#include "platform/instance_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace

InstanceLock takeInstanceLock() {
    static int held = -1;  // kept open, and so locked, until the process ends
    if (held >= 0)
        return InstanceLock::Held;
    const std::string path = lockPath();
    if (path.empty())
        return InstanceLock::Unavailable;
    held = lockFile(path, 0);
    if (held >= 0)
        return InstanceLock::Held;
    return errno == EWOULDBLOCK ? InstanceLock::HeldByAnother : InstanceLock::Unavailable;
}

}  // namespace lumora::platform
