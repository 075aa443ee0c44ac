#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "platform/lock_file.h"
#include "platform/registry_format.h"
#include "platform/user_dirs.h"

namespace lumora::platform {

namespace {

namespace fs = std::filesystem;

std::string_view rootName(int root) {
    switch (root) {
        case 1:
            return "HKEY_CLASSES_ROOT";
        case 2:
            return "HKEY_CURRENT_CONFIG";
        case 4:
            return "HKEY_LOCAL_MACHINE";
        case 5:
            return "HKEY_USERS";
        default:
            return "HKEY_CURRENT_USER";
    }
}

struct Address {
    std::string key;  // full key path, root included
    std::string value;
};

// Split at the last backslash. The scan steps over whole UTF-8 sequences; a byte that starts
// no valid sequence is stepped over alone.
Address address(int root, std::string_view path) {
    std::size_t lastSlash = std::string_view::npos;
    for (std::size_t i = 0; i < path.size();) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c == '\\')
            lastSlash = i;
        std::size_t step = 1;
        if (c >= 0xC2 && c <= 0xF4) {
            const std::size_t n = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            bool whole = i + n <= path.size();
            for (std::size_t k = 1; whole && k < n; ++k)
                whole = (static_cast<unsigned char>(path[i + k]) & 0xC0) == 0x80;
            if (whole)
                step = n;
        }
        i += step;
    }
    Address a;
    a.key = rootName(root);
    if (lastSlash == std::string_view::npos) {
        a.value = path;
    } else {
        if (lastSlash > 0) {
            a.key += '\\';
            a.key += path.substr(0, lastSlash);
        }
        a.value = path.substr(lastSlash + 1);
    }
    return a;
}

fs::path storeFile(int root) {
    const fs::path folder = storeFolder();
    if (folder.empty())
        return {};
    return folder / (std::string(rootName(root)) + ".reg");
}

// Anything larger is no store of ours: read as empty and kept aside at the next write.
constexpr off_t kLargestStore = 16 << 20;

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    mode_t mode = 0;  // permission bits of a regular file, kept by a rewrite

    Identity() = default;
    explicit Identity(const struct stat& st)
        : device(st.st_dev),
          inode(st.st_ino),
          size(st.st_size),
          modified(st.st_mtim),
          changed(st.st_ctim),
          mode(S_ISREG(st.st_mode) ? st.st_mode & 07777 : 0) {}
    bool operator==(const Identity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

// The parsed store as of one version of its file, so each version is parsed once however
// often it is read. `damaged`: the file held something that is not in `doc` (skipped lines,
// or no plain file of a sane size), so it is kept aside before it is replaced.
struct Cached {
    Identity identity;
    reg::Document doc;
    bool damaged = false;
    // Loaded while the file's time stamp was still the current one: a same-sized rewrite in
    // the same clock tick would keep the identity, so such a load is never trusted twice.
    bool recheck = false;
};

std::mutex cacheMutex;
std::map<std::string, Cached> cache;  // by file path; guarded by cacheMutex

enum class Load { Ok, Missing, Failed };

void reportDamage(const fs::path& file, const std::string& what, bool othersUsed) {
    std::fprintf(stderr,
                 "lumora: %s: %s; %s, and the file is kept aside under a .corrupt name at the "
                 "next write\n",
                 file.c_str(), what.c_str(),
                 othersUsed ? "the other values are used" : "it reads as empty");
}

std::string lineList(const std::vector<std::size_t>& lines) {
    std::string out = lines.size() == 1 ? "line " : "lines ";
    constexpr std::size_t kShown = 10;
    for (std::size_t i = 0; i < lines.size() && i < kShown; ++i)
        out += (i ? ", " : "") + std::to_string(lines[i]);
    if (lines.size() > kShown)
        out += " and " + std::to_string(lines.size() - kShown) + " more";
    return out;
}

bool readAll(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (out.size() > static_cast<std::size_t>(kLargestStore))
                return true;  // grew while read: the caller sees it is too large
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

// The store as it is on disk now, from the cache when the file has not changed. Opening never
// blocks and never follows a link; only a regular file of a sane size is read. Missing: no
// file (the entry is dropped); Failed: something that must not be replaced, such as a folder,
// or a file that cannot be read. The caller holds cacheMutex.
Load current(const fs::path& file, Cached*& entry) {
    entry = nullptr;
    struct stat st;
    if (lstat(file.c_str(), &st) != 0) {
        cache.erase(file.string());
        return errno == ENOENT ? Load::Missing : Load::Failed;
    }
    if (S_ISDIR(st.st_mode))
        return Load::Failed;
    auto found = cache.find(file.string());
    if (found != cache.end() && !found->second.recheck && found->second.identity == Identity(st)) {
        entry = &found->second;
        return Load::Ok;
    }
    Cached fresh;
    fresh.identity = Identity(st);
    std::string damage;
    if (!S_ISREG(st.st_mode)) {
        fresh.damaged = true;
        damage = "not a plain file";
    } else {
        const int fd =
            open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return errno == ENOENT ? Load::Missing : Load::Failed;
        std::string text;
        const bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                          (st.st_size > kLargestStore || readAll(fd, text));
        close(fd);
        if (!read)
            return Load::Failed;
        fresh.identity = Identity(st);
        if (st.st_size > kLargestStore || text.size() > static_cast<std::size_t>(kLargestStore)) {
            fresh.damaged = true;
            damage = "larger than 16 MiB";
        } else {
            reg::Reading reading = reg::read(text);
            fresh.doc = std::move(reading.document);
            if (!reading.skippedLines.empty()) {
                fresh.damaged = true;
                damage = lineList(reading.skippedLines) + " could not be read";
            }
        }
        // File times come from the same coarse clock: a time stamp older than its current
        // tick cannot be given again to a later change.
        timespec now{};
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        fresh.recheck = st.st_mtim.tv_sec > now.tv_sec ||
                        (st.st_mtim.tv_sec == now.tv_sec && st.st_mtim.tv_nsec >= now.tv_nsec);
    }
    // Said once per version of the file, however often it is read again.
    const bool sameVersion = found != cache.end() && found->second.identity == fresh.identity;
    if (!damage.empty() && !sameVersion)
        reportDamage(file, damage, !fresh.doc.keys.empty());
    if (found == cache.end() && cache.size() >= 8)
        cache.clear();  // stores no longer used (tests switch configuration folders)
    entry = &(cache[file.string()] = std::move(fresh));
    return Load::Ok;
}

// The value at `path`, or nullopt for a missing file, key or value and for a store that
// cannot be read. Reading never creates anything.
std::optional<reg::Value> lookup(int root, std::string_view path) {
    const fs::path file = storeFile(root);
    if (file.empty())
        return std::nullopt;
    std::lock_guard guard(cacheMutex);
    Cached* entry = nullptr;
    if (current(file, entry) != Load::Ok)
        return std::nullopt;
    const Address a = address(root, path);
    const reg::Value* v = entry->doc.find(a.key, a.value);
    if (!v)
        return std::nullopt;
    return *v;
}

// %NAME% replaced by the environment variable NAME; an unknown or empty name stays as written.
std::string expandEnvironment(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = text.find('%', i);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = text.find('%', start + 1);
        if (end == std::string_view::npos)
            break;
        out.append(text.substr(i, start - i));
        const std::string name(text.substr(start + 1, end - start - 1));
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value) {
            out += value;
        } else {
            out.append(text.substr(start, end - start + 1));
        }
        i = end + 1;
    }
    out.append(text.substr(i));
    return out;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Keeps a damaged store under the first free name of file.corrupt, file.corrupt.1, ...
// A hard link never replaces an existing name and never follows a link; the caller's rename
// then replaces the original.
bool keepAside(const fs::path& file) {
    for (int n = 0; n < 10000; ++n) {
        fs::path aside = file;
        aside += n == 0 ? std::string(".corrupt") : ".corrupt." + std::to_string(n);
        if (link(file.c_str(), aside.c_str()) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        // File systems without hard links: the lock keeps our own writers out between the
        // check and the rename.
        struct stat st;
        if (lstat(aside.c_str(), &st) == 0)
            continue;
        return rename(file.c_str(), aside.c_str()) == 0;
    }
    return false;
}

// The advisory lock all our writers of one store take; another writer's write takes
// milliseconds, so a lock kept for seconds means something is wrong and the write fails.
class FileLock {
public:
    explicit FileLock(const fs::path& path) : fd_(lockFile(path.string(), 5000)) {}
    ~FileLock() {
        if (fd_ >= 0)
            close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Creates the temporary file new, never through a link and never opening what another run
// left under its name (a stale FIFO would block the open for good).
int createTemporary(const fs::path& temp) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd =
            open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        struct stat st;
        if (lstat(temp.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return -1;
        if (unlink(temp.c_str()) != 0 && errno != ENOENT)
            return -1;
    }
    return -1;
}

// Takes the store as it is under the lock, so values another process wrote meanwhile are
// kept, and replaces it in one rename, so no reader ever sees half a file.
bool store(int root, std::string_view path, std::uint32_t type, std::vector<std::uint8_t> data) {
    Address a = address(root, path);
    if (!reg::writableName(a.key) || !reg::writableName(a.value))
        return false;
    const fs::path file = storeFile(root);
    if (file.empty())
        return false;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (!fs::is_directory(file.parent_path(), ec))
        return false;

    fs::path lockPath = file;
    lockPath += ".lock";
    FileLock lock(lockPath);
    if (!lock.held())
        return false;

    std::lock_guard guard(cacheMutex);
    Cached* entry = nullptr;
    const Load load = current(file, entry);
    if (load == Load::Failed)
        return false;  // never replace what could not be read
    const bool existed = load == Load::Ok;
    if (existed && entry->damaged && !keepAside(file))
        return false;
    if (!existed)
        entry = &(cache[file.string()] = Cached{});
    // The cached document takes the change now; any failure below drops it from the cache.
    entry->doc.set(a.key, reg::Value{std::move(a.value), type, std::move(data)});
    const std::string out = reg::format(entry->doc);
    const mode_t mode = existed ? entry->identity.mode : 0;

    fs::path temp = file;
    temp += ".tmp";
    const int fd = createTemporary(temp);
    bool ok = fd >= 0 && writeAll(fd, out);
    if (ok && mode != 0)
        fchmod(fd, mode);
    struct stat written {};
    ok = ok && fsync(fd) == 0 && fstat(fd, &written) == 0;
    if (fd >= 0)
        ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        if (fd >= 0)
            unlink(temp.c_str());
        cache.erase(file.string());
        return false;
    }
    // Make the rename itself durable; a failure here does not undo the write.
    if (const int dir = open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        fsync(dir);
        close(dir);
    }
    // The file now holds exactly this document: keep it under the identity it has after the
    // rename (which changes the inode's change time).
    struct stat renamed;
    if (lstat(file.c_str(), &renamed) == 0 && renamed.st_ino == written.st_ino &&
        renamed.st_dev == written.st_dev) {
        entry->identity = Identity(renamed);
        entry->damaged = false;
        entry->recheck = false;
    } else {
        cache.erase(file.string());
    }
    return true;
}

bool storeDword(int root, std::string_view path, std::uint32_t v) {
    return store(root, path, reg::kDword,
                 {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                  static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

}  // namespace

// $XDG_CONFIG_HOME/lumora/registry; a relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
std::string storeFolder() {
    const std::string config = configHome();
    if (config.empty())
        return {};
    return (fs::path(config) / "lumora" / "registry").string();
}

std::string readText(int root, std::string_view path, std::string_view defaultText) {
    const auto v = lookup(root, path);
    if (!v || (v->type != reg::kString && v->type != reg::kExpandString))
        return std::string(defaultText);
    std::string_view text(reinterpret_cast<const char*>(v->data.data()), v->data.size());
    if (text.ends_with('\0'))
        text.remove_suffix(1);
    if (v->type == reg::kExpandString)
        return expandEnvironment(text);
    return std::string(text);
}

std::int32_t readNumber(int root, std::string_view path, std::int32_t defaultValue) {
    const auto v = lookup(root, path);
    if (!v || v->type != reg::kDword || v->data.size() != 4)
        return defaultValue;
    const std::uint32_t n = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) |
                            (static_cast<std::uint32_t>(v->data[3]) << 24);
    return static_cast<std::int32_t>(n);
}

bool writeNumber(int root, std::string_view path, std::int32_t value) {
    return storeDword(root, path, static_cast<std::uint32_t>(value));
}

bool writeNumber(int root, std::string_view path, std::int64_t value) {
    return storeDword(root, path, static_cast<std::uint32_t>(value));
}

bool writeNumber(int root, std::string_view path, double value) {
    const auto dword = detail::dwordOfNumber(value);
    return dword && storeDword(root, path, *dword);
}

bool writeText(int root, std::string_view path, std::string_view text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return store(root, path, reg::kString, std::move(data));
}

}  // namespace lumora::platform
