#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lumora::platform {

namespace {

// False for a folder, which is never removed.
bool clearOddName(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return true;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool lockWithin(int fd, int waitMs) {
    int waited = 0;
    for (int pause = 1; flock(fd, LOCK_EX | LOCK_NB) != 0; pause = std::min(pause * 2, 50)) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (waited >= waitMs) {
            errno = EWOULDBLOCK;
            return false;
        }
        usleep(static_cast<useconds_t>(pause) * 1000);
        waited += pause;
    }
    return true;
}

}  // namespace

int lockFile(const std::string& path, int waitMs) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (!clearOddName(path))
            return -1;
        const int fd = open(
            path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (fd < 0) {
            if (errno == ELOOP || errno == ENXIO)
                continue;  // something else was put there meanwhile: clear it again
            return -1;
        }
        struct stat held;
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            close(fd);
            continue;
        }
        if (!lockWithin(fd, waitMs)) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        // The name may have been replaced between the open and the lock: a lock on a file no
        // longer under that name keeps nobody out.
        struct stat named;
        if (lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino)
            return fd;
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

}  // namespace lumora::platform
