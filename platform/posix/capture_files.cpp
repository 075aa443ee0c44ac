#include "platform/capture_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace lumora::platform {

namespace {

// Enough for any folder a person keeps; bounds the work when something is badly wrong.
constexpr int kMaxCandidates = 100000;

constexpr char kPartPrefix[] = ".lumora-";
constexpr char kPartSuffix[] = ".part";

std::string partName(long pid, unsigned long sequence) {
    return kPartPrefix + std::to_string(pid) + "-" + std::to_string(sequence) + kPartSuffix;
}

// The pid of a name of the exact pattern ".lumora-<pid>-<n>.part"; 0 for any other name.
long partOwner(const char* name) {
    const std::size_t prefix = sizeof kPartPrefix - 1, suffix = sizeof kPartSuffix - 1;
    const std::size_t length = std::strlen(name);
    if (length <= prefix + suffix + 2 || std::strncmp(name, kPartPrefix, prefix) != 0 ||
        std::strcmp(name + length - suffix, kPartSuffix) != 0)
        return 0;
    const std::string middle(name + prefix, length - prefix - suffix);
    const auto dash = middle.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == middle.size() || dash > 9)
        return 0;
    for (std::size_t i = 0; i < middle.size(); ++i) {
        if (i != dash && (middle[i] < '0' || middle[i] > '9'))
            return 0;
    }
    return std::stol(middle.substr(0, dash));
}

int retryOnInterrupt(const std::function<int()>& call) {
    int result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

bool procFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Opens `name` inside `dirFd` as a folder, never through a link; made first when missing.
// -1 with errno set, ELOOP or ENOTDIR when something else sits at the name.
int openSubfolder(int dirFd, const std::string& name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = retryOnInterrupt([&] { return ::openat(dirFd, name.c_str(), flags); });
    if (fd >= 0 || errno != ENOENT)
        return fd;
    if (::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST)
        return -1;
    return retryOnInterrupt([&] { return ::openat(dirFd, name.c_str(), flags); });
}

}  // namespace

PartFile::~PartFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!published_ && dirFd_ >= 0 && !name_.empty())
        ::unlinkat(dirFd_, name_.c_str(), 0);
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

void PartFile::fail(int errnoValue) {
    error_ = fileErrorText(errnoValue);
}

void PartFile::noteFailure(int errnoValue) {
    fail(errnoValue == 0 ? EIO : errnoValue);
}

bool PartFile::create(const std::string& folder, unsigned long sequence,
                      const std::string& subfolder) {
    if (folder.empty() || subfolder.find('/') != std::string::npos || subfolder == "." ||
        subfolder == "..") {
        fail(ENOENT);
        return false;
    }
    folder_ = folder;
    dirFd_ = retryOnInterrupt(
        [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (dirFd_ < 0) {
        fail(errno);
        return false;
    }
    if (!subfolder.empty()) {
        // Everything from here on goes through the sub-folder's own descriptor: a link put in
        // its place later does not lead the file anywhere else.
        const int subFd = openSubfolder(dirFd_, subfolder);
        if (subFd < 0) {
            if (errno == ELOOP || errno == ENOTDIR)
                error_ = kSubfolderNotPlain;
            else
                fail(errno);
            return false;
        }
        ::close(dirFd_);
        dirFd_ = subFd;
        folder_ = folder + subfolder + "/";
    }
    const std::string name = partName(static_cast<long>(::getpid()), sequence);
    // O_EXCL|O_NOFOLLOW: whatever sits at that name (a link someone put there) is never
    // opened; the file is ours from its creation and only its descriptor is written.
    fd_ = retryOnInterrupt([&] {
        return ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666);
    });
    if (fd_ < 0) {
        fail(errno);
        return false;
    }
    name_ = name;
    return true;
}

bool PartFile::write(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string PartFile::publish(const std::string& base, const std::string& extension) {
    if (fd_ < 0)
        return {};
    // No fsync: a killed program loses nothing the kernel already holds, and a flush per
    // capture would cost more than the whole encode on a spinning disk.
    const int fd = fd_;
    const std::string fdPath = "/proc/self/fd/" + std::to_string(fd);
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::string candidate =
            n == 1 ? base + extension : base + " (" + std::to_string(n) + ")" + extension;
        int result;
        if (procFdAvailable()) {
            // Links the descriptor's own file: even if the hidden name was swapped meanwhile,
            // the name given is that of the file this program wrote. Fails on a taken name.
            result =
                ::linkat(AT_FDCWD, fdPath.c_str(), dirFd_, candidate.c_str(), AT_SYMLINK_FOLLOW);
        } else {
            result =
                ::renameat2(dirFd_, name_.c_str(), dirFd_, candidate.c_str(), RENAME_NOREPLACE);
            if (result != 0 && errno == EINVAL) {
                result = ::linkat(dirFd_, name_.c_str(), dirFd_, candidate.c_str(), 0);
            } else if (result == 0) {
                name_.clear();
            }
        }
        if (result == 0) {
            published_ = true;
            if (!name_.empty())
                ::unlinkat(dirFd_, name_.c_str(), 0);
            ::close(fd_);
            fd_ = -1;
            return folder_ + candidate;
        }
        if (errno != EEXIST) {
            const int error = errno;
            struct stat info {};
            if (error == ENOENT && ::fstat(fd_, &info) == 0 && info.st_nlink == 0)
                error_ = "someone removed the file while it was written";
            else
                fail(error);
            return {};
        }
    }
    fail(EEXIST);
    return {};
}

int removeLeftoverPartFiles(const std::string& folder, const std::string& subfolder) {
    if (folder.empty())
        return 0;
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    if (!subfolder.empty()) {
        const int subFd =
            ::openat(dirFd, subfolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dirFd);
        if (subFd < 0)
            return 0;
        dirFd = subFd;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    const long self = static_cast<long>(::getpid());
    while (const dirent* entry = ::readdir(dir)) {
        const long owner = partOwner(entry->d_name);
        if (owner <= 0 || owner == self)
            continue;
        // A process that still runs may be writing it (another instance on a shared folder).
        if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace lumora::platform
