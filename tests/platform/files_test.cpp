#include "platform/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeTextFile;

mode_t modeOf(const fs::path& p) {
    struct stat st;
    EXPECT_EQ(stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

TEST(FileAttributes, ReadOnlyIsTheOnlyBitWithAnEffect) {
    TempDir dir;
    const fs::path file = dir.path() / "temp.bmp";
    writeTextFile(file, "BM");
    chmod(file.c_str(), 0664);

    EXPECT_TRUE(setFileAttributes(file, 1));
    EXPECT_EQ(modeOf(file), 0444u);
    // Hidden alone clears read-only: the owner may write again; nothing else changes.
    EXPECT_TRUE(setFileAttributes(file, 2));
    EXPECT_EQ(modeOf(file), 0644u);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(setFileAttributes(file, 0x21));
    EXPECT_EQ(modeOf(file), 0444u);
    // Bits outside 0x27 are dropped, so 0x100 means "no attributes".
    EXPECT_TRUE(setFileAttributes(file, 0x100));
    EXPECT_EQ(modeOf(file), 0644u);
    EXPECT_TRUE(setFileAttributes(file, 0x20 | 0x04));
    EXPECT_EQ(modeOf(file), 0644u);

    EXPECT_FALSE(setFileAttributes((dir.path() / "missing").string(), 2));
    EXPECT_FALSE(setFileAttributes("", 2));
}

TEST(DeleteFile, RemovesFilesOnly) {
    TempDir dir;
    const fs::path file = dir.path() / ".temp.bmp";
    writeTextFile(file, "x");
    chmod(file.c_str(), 0444);
    EXPECT_TRUE(deleteFile(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(deleteFile(file));
    EXPECT_FALSE(deleteFile(""));

    const fs::path sub = dir.path() / "sub";
    fs::create_directory(sub);
    EXPECT_FALSE(deleteFile(sub));
    EXPECT_FALSE(deleteFile(sub.string() + "/"));
    EXPECT_TRUE(fs::is_directory(sub));

    // A link goes, never what it points to.
    const fs::path link = dir.path() / "link";
    fs::create_directory_symlink(sub, link);
    EXPECT_TRUE(deleteFile(link));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_directory(sub));
    fs::create_symlink(dir.path() / "nowhere", link);
    EXPECT_TRUE(deleteFile(link));
}

TEST(Program, LocationComesFromTheRunningExecutable) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(programFileName(), "files_test");
    EXPECT_EQ(programFileName(), exe.filename().string());
    EXPECT_EQ(programDirectory(), exe.parent_path().string());
    EXPECT_FALSE(programDirectory().ends_with('/'));
}

TEST(CaptureFolder, ProgramFolderWhenWritableElsePictures) {
    TempDir programDir, home, config;
    // The test's own folder is writable, so that is the folder.
    EXPECT_EQ(defaultCaptureFolder(), programDirectory() + "/");
    EXPECT_EQ(detail::captureFolderFor(programDir.path(), home.path(), config.path()),
              programDir.folder());
    EXPECT_EQ(detail::captureFolderFor(programDir.folder(), home.path(), config.path()),
              programDir.folder());

    // A folder that is gone (or, below, one the user may not write) gives the pictures folder,
    // created on the way.
    const std::string gone = (programDir.path() / "uninstalled").string();
    EXPECT_EQ(detail::captureFolderFor(gone, home.path(), config.path()),
              home.folder() + "Pictures/");
    EXPECT_TRUE(fs::is_directory(home.path() / "Pictures"));
    EXPECT_EQ(detail::captureFolderFor("", home.path(), config.path()),
              home.folder() + "Pictures/");

    // An installed program's folder is no place for pictures, even for root, who may write it.
    EXPECT_EQ(detail::captureFolderFor("/usr/bin", home.path(), config.path()),
              home.folder() + "Pictures/");
    EXPECT_EQ(detail::captureFolderFor("/opt/lumora", home.path(), config.path()),
              home.folder() + "Pictures/");

    if (geteuid() != 0) {
        const fs::path installed = programDir.path() / "installed";
        fs::create_directory(installed);
        chmod(installed.c_str(), 0555);
        EXPECT_EQ(detail::captureFolderFor(installed, home.path(), config.path()),
                  home.folder() + "Pictures/");
    }
}

TEST(CaptureFolder, PicturesFolderFromUserDirs) {
    TempDir home, config, elsewhere;
    const std::string gone = "/nonexistent-program-folder";
    const fs::path dirs = config.path() / "user-dirs.dirs";
    const auto folder = [&] { return detail::captureFolderFor(gone, home.path(), config.path()); };

    writeTextFile(dirs,
                  "# written by xdg-user-dirs-update\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_PICTURES_DIR=\"$HOME/图片\"\n");
    EXPECT_EQ(folder(), home.folder() + "图片/");
    EXPECT_TRUE(fs::is_directory(home.path() / "图片"));

    writeTextFile(dirs, "XDG_PICTURES_DIR=\"" + elsewhere.folder() + "shots/\"\n");
    EXPECT_EQ(folder(), elsewhere.folder() + "shots/");

    writeTextFile(dirs, "XDG_PICTURES_DIR=\"$HOME/My \\\"Pics\\\" \\\\\"\n");
    EXPECT_EQ(folder(), home.folder() + "My \"Pics\" \\/");

    // Later lines win; "$HOME" alone marks the folder as unused; relative paths mean nothing.
    writeTextFile(dirs, "XDG_PICTURES_DIR=\"$HOME/a\"\n  XDG_PICTURES_DIR=\"$HOME/b\"\r\n");
    EXPECT_EQ(folder(), home.folder() + "b/");
    for (const char* unused :
         {"XDG_PICTURES_DIR=\"$HOME/\"\n", "XDG_PICTURES_DIR=\"$HOME\"\n",
          "XDG_PICTURES_DIR=\"Pictures\"\n", "XDG_PICTURES_DIR=\"$HOMEWORK\"\n",
          "#XDG_PICTURES_DIR=\"$HOME/c\"\n", "XDG_PICTURES_DIR=\"$HOME/unterminated\n"}) {
        writeTextFile(dirs, unused);
        EXPECT_EQ(folder(), home.folder() + "Pictures/") << unused;
    }

    // A pictures folder that cannot be made (below a regular file) leaves the home folder.
    writeTextFile(home.path() / "file", "x");
    writeTextFile(dirs, "XDG_PICTURES_DIR=\"$HOME/file/pics\"\n");
    EXPECT_EQ(folder(), home.folder());
}

// Runs `program` from a copy named `name` in `dir`, as a child of this process.
pid_t startCopy(const fs::path& program, const fs::path& dir, const std::string& name) {
    const fs::path copy = dir / name;
    fs::copy_file(program, copy);
    fs::permissions(copy, fs::perms::owner_all);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(copy.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

const ProcessRecord* find(const std::vector<ProcessRecord>& list, std::uint32_t pid) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const ProcessRecord& r) { return r.processId == pid; });
    return it == list.end() ? nullptr : &*it;
}

TEST(ListProcesses, FindsThisProcessInPidOrder) {
    // A second thread, so the count has something to show.
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread worker([&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    });
    const auto list = listProcesses();
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_one();
    worker.join();

    ASSERT_FALSE(list.empty());
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a.processId < b.processId;
    }));
    EXPECT_EQ(
        std::adjacent_find(list.begin(), list.end(),
                           [](const auto& a, const auto& b) { return a.processId == b.processId; }),
        list.end());
    const ProcessRecord* self = find(list, static_cast<std::uint32_t>(getpid()));
    ASSERT_TRUE(self);
    EXPECT_EQ(self->executableName, programFileName());
    EXPECT_EQ(self->parentProcessId, static_cast<std::uint32_t>(getppid()));
    EXPECT_GE(self->threadCount, 2u);
    EXPECT_EQ(self->moduleId, 0u);
    const ProcessRecord* parent = find(list, static_cast<std::uint32_t>(getppid()));
    ASSERT_TRUE(parent);
    EXPECT_FALSE(parent->executableName.empty());
    // Kernel threads have no executable; they are named by their command name.
    const ProcessRecord* kthreadd = find(list, 2);
    if (kthreadd) {
        EXPECT_FALSE(kthreadd->executableName.empty());
    }
}

TEST(ListProcesses, NamesAreFileNamesEvenWhenOdd) {
    TempDir dir;
    const fs::path sleep = "/bin/sleep";
    ASSERT_TRUE(fs::exists(sleep));
    // Spaces and ")" in the name would upset a careless reading of /proc/PID/stat.
    const std::string odd = "sl ee) p (x";
    const pid_t oddPid = startCopy(sleep, dir.path(), odd);
    const pid_t gonePid = startCopy(sleep, dir.path(), "gone-sleep");
    ASSERT_GT(oddPid, 0);
    ASSERT_GT(gonePid, 0);

    const auto nameOf = [](pid_t pid) {
        const auto list = listProcesses();
        const ProcessRecord* r = find(list, static_cast<std::uint32_t>(pid));
        return r ? r->executableName : std::string();
    };
    EXPECT_TRUE(test::waitUntil([&] { return nameOf(oddPid) == odd; })) << nameOf(oddPid);
    ASSERT_TRUE(test::waitUntil([&] { return nameOf(gonePid) == "gone-sleep"; }));
    fs::remove(dir.path() / "gone-sleep");
    EXPECT_EQ(nameOf(gonePid), "gone-sleep");

    const auto list = listProcesses();
    const ProcessRecord* r = find(list, static_cast<std::uint32_t>(oddPid));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->parentProcessId, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(r->threadCount, 1u);
    EXPECT_EQ(r->basePriority, 20 + getpriority(PRIO_PROCESS, 0));  // inherits our nice value
    stop(oddPid);
    stop(gonePid);
    const auto after = listProcesses();
    EXPECT_FALSE(find(after, static_cast<std::uint32_t>(oddPid)));
}

}  // namespace
}  // namespace lumora::platform
