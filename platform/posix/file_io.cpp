#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/image_encoding.h"

namespace lumora::platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close (delayed write errors) reaches the caller.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool writeFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
    return writeFileBytes(path, {data});
}

bool writeFileBytes(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> pieces) {
    if (path.empty())
        return false;
    // Non-blocking only for the open itself: a FIFO without a reader must fail, not hang.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (file.get() < 0)
        return false;
    // Another writer holding the file keeps it intact: the lock comes before the truncation.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return false;
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return false;
    if (S_ISREG(info.st_mode) && ::ftruncate(file.get(), 0) != 0)
        return false;
    for (const auto& piece : pieces) {
        if (!piece.empty() && !writeAll(file.get(), piece.data(), piece.size())) {
            file.close();
            return false;
        }
    }
    return file.close();
}

namespace io {

Source inspectSource(const std::string& path, const std::string& target) {
    struct stat source {};
    if (::stat(path.c_str(), &source) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Source::Missing : Source::Unreadable;
    struct stat other {};
    if (::stat(target.c_str(), &other) == 0 && source.st_dev == other.st_dev &&
        source.st_ino == other.st_ino)
        return Source::SameAsTarget;
    return S_ISREG(source.st_mode) ? Source::Regular : Source::NotRegular;
}

SourceFile::~SourceFile() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool SourceFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    handle_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    size_ = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool SourceFile::readAt(std::uint8_t* buffer, std::size_t count, std::uint64_t offset) const {
    const int fd = static_cast<int>(handle_);
    while (count > 0) {
        const ssize_t n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        buffer += n;
        count -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

std::FILE* createStream(const std::string& path) {
    return std::fopen(path.c_str(), "wbe");
}

std::FILE* streamOnCopy(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    std::FILE* out = copy < 0 ? nullptr : ::fdopen(copy, "wb");
    if (out == nullptr && copy >= 0)
        ::close(copy);
    return out;
}

}  // namespace io

}  // namespace lumora::platform
