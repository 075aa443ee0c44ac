#include "platform/files.h"

#include "platform/user_dirs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace lumora::platform {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDeleted = " (deleted)";

std::string readLink(const std::string& path) {
    std::string buf(256, '\0');
    for (;;) {
        const ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buf.size()) {
            buf.resize(static_cast<std::size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

// The kernel marks the target of an exe link whose file was removed or replaced.
std::string withoutDeletedMark(std::string target) {
    struct stat st;
    if (target.ends_with(kDeleted) && lstat(target.c_str(), &st) != 0)
        target.resize(target.size() - kDeleted.size());
    return target;
}

std::string_view fileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Small /proc files report no size; read until the end.
bool readSmallFile(const std::string& path, std::string& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(fd);
            return n == 0;
        }
    }
}

struct ProgramPath {
    std::string directory;
    std::string fileName;
};

const ProgramPath& programPath() {
    static const ProgramPath path = [] {
        const std::string exe = withoutDeletedMark(readLink("/proc/self/exe"));
        const std::size_t slash = exe.rfind('/');
        if (slash == std::string::npos)
            return ProgramPath{{}, exe};
        // A program right in the root keeps "/" as its folder rather than an empty one.
        return ProgramPath{slash == 0 ? std::string("/") : exe.substr(0, slash),
                           exe.substr(slash + 1)};
    }();
    return path;
}

std::string withSlash(std::string folder) {
    if (!folder.ends_with('/'))
        folder += '/';
    return folder;
}

// XDG_PICTURES_DIR from user-dirs.dirs: "$HOME/..." or an absolute path, quoted, with
// backslash escapes. Empty when absent, relative, or "$HOME" itself (which marks it unused).
std::string picturesFromUserDirs(const std::string& file, const std::string& home) {
    std::string text;
    if (!readSmallFile(file, text))
        return {};
    std::string result;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        constexpr std::string_view key = "XDG_PICTURES_DIR=";
        if (!line.starts_with(key))
            continue;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        std::string value;
        if (line.starts_with('"')) {
            const std::size_t close = [&] {
                for (std::size_t i = 1; i < line.size(); ++i) {
                    if (line[i] == '\\') {
                        ++i;
                    } else if (line[i] == '"') {
                        return i;
                    }
                }
                return std::string_view::npos;
            }();
            if (close == std::string_view::npos)
                continue;
            for (std::size_t i = 1; i < close; ++i) {
                if (line[i] == '\\' && i + 1 < close)
                    ++i;
                value += line[i];
            }
        } else {
            value = line;
        }
        std::string path;
        if (value.starts_with("$HOME") && (value.size() == 5 || value[5] == '/')) {
            if (home.empty())
                continue;
            path = home + value.substr(5);
        } else if (value.starts_with('/')) {
            path = value;
        } else {
            continue;
        }
        while (path.size() > 1 && path.ends_with('/'))
            path.pop_back();
        // The last assignment wins, as when the shell reads the file.
        std::string_view homeTrimmed = home;
        while (homeTrimmed.size() > 1 && homeTrimmed.ends_with('/'))
            homeTrimmed.remove_suffix(1);
        result = path == homeTrimmed ? std::string() : path;
    }
    return result;
}

// Fields of /proc/PID/stat after the command name, which may itself hold spaces and ')'.
bool parseStat(const std::string& stat, ProcessRecord& record, std::string& comm) {
    const std::size_t open = stat.find('(');
    const std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    comm = stat.substr(open + 1, close - open - 1);
    std::vector<std::string_view> fields;  // fields[0] is the state, field 3 of the stat line
    std::string_view rest = std::string_view(stat).substr(close + 1);
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(" \n");
        if (start == std::string_view::npos)
            break;
        const std::size_t end = rest.find_first_of(" \n", start);
        fields.push_back(rest.substr(start, end - start));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (fields.size() < 18)
        return false;
    record.zombie = fields[0] == "Z" || fields[0] == "X";
    const auto number = [](std::string_view s, auto& out) {
        return std::from_chars(s.data(), s.data() + s.size(), out).ec == std::errc();
    };
    return number(fields[1], record.parentProcessId) && number(fields[15], record.basePriority) &&
           number(fields[17], record.threadCount);
}

}  // namespace

bool setFileAttributes(const std::string& path, std::uint32_t bits) {
    bits &= 0x27;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    const mode_t mode = st.st_mode & 07777;
    const mode_t wanted = (bits & 1) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    return wanted == mode || chmod(path.c_str(), wanted) == 0;
}

bool deleteFile(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return unlink(path.c_str()) == 0;
}

std::string programDirectory() {
    return programPath().directory;
}

std::string programFileName() {
    return programPath().fileName;
}

bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

bool isPathSeparator(char c) {
    return c == '/';
}

bool isForbiddenInFileName(char) {
    return false;
}

std::string withTrailingSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string defaultCaptureFolder() {
    return detail::captureFolderFor(programDirectory(), homeDirectory(), configHome());
}

namespace detail {

namespace {

// Folders of installed programs: writable for root, yet no place to look for pictures, and
// captures there would sit among the system's programs.
bool isSystemProgramFolder(const std::string& dir) {
    for (std::string_view prefix : {"/usr/", "/bin", "/sbin", "/lib", "/opt/", "/snap/"}) {
        const std::string_view d = dir;
        if (d == prefix ||
            (d.starts_with(prefix) &&
             (prefix.ends_with('/') || d.size() == prefix.size() || d[prefix.size()] == '/')))
            return true;
    }
    return false;
}

}  // namespace

std::string captureFolderFor(const std::string& programDir, const std::string& home,
                             const std::string& configHome) {
    std::error_code ec;
    if (!programDir.empty() && !isSystemProgramFolder(programDir) &&
        access(programDir.c_str(), W_OK | X_OK) == 0 && fs::is_directory(programDir, ec))
        return withSlash(programDir);
    std::string pictures = picturesFromUserDirs(configHome + "/user-dirs.dirs", home);
    if (pictures.empty() && !home.empty())
        pictures = home + "/Pictures";
    if (!pictures.empty()) {
        fs::create_directories(pictures, ec);
        if (fs::is_directory(pictures, ec))
            return withSlash(pictures);
    }
    // Somewhere the user can find the files rather than a folder that cannot exist.
    if (!home.empty() && fs::is_directory(home, ec))
        return withSlash(home);
    return "/tmp/";
}

}  // namespace detail

std::vector<ProcessRecord> listProcesses() {
    std::vector<std::uint32_t> pids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return {};
    while (const dirent* entry = readdir(proc)) {
        const std::string_view name = entry->d_name;
        std::uint32_t pid = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc() && end == name.data() + name.size())
            pids.push_back(pid);
    }
    closedir(proc);
    std::sort(pids.begin(), pids.end());

    std::vector<ProcessRecord> records;
    records.reserve(pids.size());
    std::string stat, cmdline, comm, status;
    for (const std::uint32_t pid : pids) {
        const std::string dir = "/proc/" + std::to_string(pid);
        ProcessRecord record;
        record.processId = pid;
        // Gone since the folder was listed, or not a process we can see: skipped.
        if (!readSmallFile(dir + "/stat", stat) || !parseStat(stat, record, comm))
            continue;
        if (const std::string exe = withoutDeletedMark(readLink(dir + "/exe")); !exe.empty()) {
            record.executableName = fileNameOf(exe);
        } else if (readSmallFile(dir + "/cmdline", cmdline) && !cmdline.empty() &&
                   cmdline[0] != '\0') {
            record.executableName = fileNameOf(std::string_view(cmdline.c_str()));
        }
        if (record.executableName.empty())
            record.executableName = comm;
        if (readSmallFile(dir + "/status", status)) {
            // "Uid:\treal\teffective\tsaved\tfilesystem"
            if (const std::size_t at = status.find("\nUid:"); at != std::string::npos) {
                const char* p = status.c_str() + at + 5;
                while (*p == '\t' || *p == ' ')
                    ++p;
                std::from_chars(p, status.c_str() + status.size(), record.userId);
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::uint32_t currentUserId() {
    return getuid();
}

std::vector<std::string> processArguments(std::uint32_t pid) {
    std::string cmdline;
    if (!readSmallFile("/proc/" + std::to_string(pid) + "/cmdline", cmdline))
        return {};
    std::vector<std::string> arguments;
    for (std::size_t at = 0; at < cmdline.size();) {
        const std::size_t end = std::min(cmdline.find('\0', at), cmdline.size());
        arguments.emplace_back(cmdline, at, end - at);
        at = end + 1;
    }
    return arguments;
}

}  // namespace lumora::platform
