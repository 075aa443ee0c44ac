#include "platform/capture_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace lumora::platform {

namespace {

// Enough for any folder a person keeps; bounds the work when something is badly wrong.
constexpr int kMaxCandidates = 100000;

enum class Claim { Created, Taken, Failed };

Claim claim(const std::string& path) {
    // O_NOFOLLOW: a symbolic link of that name counts as taken, never as a way to write
    // somewhere else.
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        ::close(fd);
        return Claim::Created;
    }
    return errno == EEXIST ? Claim::Taken : Claim::Failed;
}

// Tries candidate(1), candidate(2), ... until one is created or creating fails for a reason
// other than the name being taken.
std::string claimFirstFree(const std::function<std::string(int)>& candidate) {
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::string path = candidate(n);
        switch (claim(path)) {
            case Claim::Created:
                return path;
            case Claim::Taken:
                continue;
            case Claim::Failed:
                return {};
        }
    }
    return {};
}

}  // namespace

std::string createNewFile(const std::string& base, const std::string& extension) {
    if (base.empty())
        return {};
    return claimFirstFree([&](int n) {
        if (n == 1)
            return base + extension;
        return base + " (" + std::to_string(n) + ")" + extension;
    });
}

std::string createTemporaryBmp(const std::string& folder) {
    if (folder.empty())
        return {};
    return claimFirstFree([&](int n) {
        if (n == 1)
            return folder + ".temp.bmp";
        return folder + ".temp-" + std::to_string(n) + ".bmp";
    });
}

}  // namespace lumora::platform
