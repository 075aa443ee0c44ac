#include "platform/folder_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumora::platform {

namespace {

// A descriptor of the place: the folder as named, the subfolder only when it is a real folder.
class PlaceDescriptor {
public:
    explicit PlaceDescriptor(const FolderPlace& place) {
        const int folder = open(place.folder.empty() ? "." : place.folder.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0 || place.subfolder.empty()) {
            fd_ = folder;
            return;
        }
        fd_ = openat(folder, place.subfolder.c_str(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(folder);
    }
    ~PlaceDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    PlaceDescriptor(const PlaceDescriptor&) = delete;
    PlaceDescriptor& operator=(const PlaceDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FolderEntry entryOf(const std::string& name, const struct stat& st) {
    FolderEntry entry;
    entry.name = name;
    if (S_ISREG(st.st_mode)) {
        entry.kind = FolderEntry::Kind::File;
        entry.bytes = static_cast<std::uint64_t>(st.st_size);
        entry.modified = nanoseconds(st.st_mtim);
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = FolderEntry::Kind::Folder;
    }
    return entry;
}

}  // namespace

bool listFolderEntries(const FolderPlace& place,
                       const std::function<bool(std::string_view name)>& wanted,
                       std::vector<FolderEntry>& entries) {
    PlaceDescriptor descriptor(place);
    if (descriptor.get() < 0)
        return false;
    const int fd = descriptor.get();
    DIR* dir = fdopendir(fd);
    if (dir == nullptr)
        return false;
    descriptor.release();  // the stream owns it now
    while (const dirent* item = readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == ".." || !wanted(name))
            continue;
        struct stat st;
        if (fstatat(fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // removed meanwhile
        entries.push_back(entryOf(item->d_name, st));
    }
    closedir(dir);
    return true;
}

std::optional<FolderEntry> inspectFolderEntry(const FolderPlace& place, const std::string& name) {
    PlaceDescriptor descriptor(place);
    struct stat st;
    if (descriptor.get() < 0 ||
        fstatat(descriptor.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return entryOf(name, st);
}

RemoveOutcome removeFileIfUnchanged(const FolderPlace& place, const std::string& name,
                                    std::uint64_t bytes, std::int64_t modified) {
    PlaceDescriptor descriptor(place);
    if (descriptor.get() < 0)
        return errno == ENOENT ? RemoveOutcome::Gone : RemoveOutcome::Changed;
    struct stat st;
    if (fstatat(descriptor.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? RemoveOutcome::Gone : RemoveOutcome::Failed;
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != bytes ||
        nanoseconds(st.st_mtim) != modified)
        return RemoveOutcome::Changed;
    if (unlinkat(descriptor.get(), name.c_str(), 0) != 0)
        return errno == ENOENT ? RemoveOutcome::Gone : RemoveOutcome::Failed;
    return RemoveOutcome::Removed;
}

}  // namespace lumora::platform
