#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

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

// $XDG_CONFIG_HOME/lumora/registry; a relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
fs::path storeFolder() {
    const std::string config = configHome();
    if (config.empty())
        return {};
    return fs::path(config) / "lumora" / "registry";
}

fs::path storeFile(int root) {
    const fs::path folder = storeFolder();
    if (folder.empty())
        return {};
    return folder / (std::string(rootName(root)) + ".reg");
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWholeFile(const fs::path& path, std::string& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    out.clear();
    char buf[16384];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            close(fd);
            return ReadResult::Failed;
        }
    }
    close(fd);
    return ReadResult::Ok;
}

// The value at `path`, or nullopt for a missing file, key or value and for an unreadable or
// unparsable file. Reading never creates anything.
std::optional<reg::Value> lookup(int root, std::string_view path) {
    const fs::path file = storeFile(root);
    if (file.empty())
        return std::nullopt;
    std::string text;
    if (readWholeFile(file, text) != ReadResult::Ok)
        return std::nullopt;
    const auto doc = reg::parse(text);
    if (!doc)
        return std::nullopt;
    const Address a = address(root, path);
    const reg::Value* v = doc->find(a.key, a.value);
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

// Keeps an unparsable file under the first free name of file.corrupt, file.corrupt.1, ...
// A hard link never replaces an existing name; the caller's rename then replaces the original.
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

class FileLock {
public:
    explicit FileLock(const fs::path& path)
        : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ < 0)
            return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
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

// Re-reads the file under the lock, so values another process wrote meanwhile are kept, and
// replaces it in one rename, so no reader ever sees half a file.
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

    reg::Document doc;
    std::string text;
    mode_t mode = 0;
    bool existed = false;
    switch (readWholeFile(file, text)) {
        case ReadResult::Failed:
            return false;  // never replace what could not be read
        case ReadResult::Missing:
            break;
        case ReadResult::Ok: {
            struct stat st;
            if (stat(file.c_str(), &st) == 0) {
                mode = st.st_mode & 07777;
                existed = true;
            }
            if (auto parsed = reg::parse(text)) {
                doc = std::move(*parsed);
            } else if (!keepAside(file)) {
                return false;
            }
            break;
        }
    }
    doc.set(a.key, reg::Value{std::move(a.value), type, std::move(data)});
    const std::string out = reg::format(doc);

    fs::path temp = file;
    temp += ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, out);
    if (ok && existed)
        fchmod(fd, mode);
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok)
        ok = rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here does not undo the write.
    if (const int dir = open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool storeDword(int root, std::string_view path, std::uint32_t v) {
    return store(root, path, reg::kDword,
                 {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                  static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

}  // namespace

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

// Not-a-number and infinities have no integer to truncate to: nothing is stored and the old
// value stays. Finite values beyond 64 bits still keep the low 32 bits of their integer part.
bool writeNumber(int root, std::string_view path, double value) {
    if (!std::isfinite(value))
        return false;
    constexpr double kTwo32 = 4294967296.0;
    double low = std::fmod(std::trunc(value), kTwo32);
    if (low < 0)
        low += kTwo32;
    return storeDword(root, path, static_cast<std::uint32_t>(low));
}

bool writeText(int root, std::string_view path, std::string_view text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return store(root, path, reg::kString, std::move(data));
}

}  // namespace lumora::platform
