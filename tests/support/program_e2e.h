#pragma once
// The running program for end-to-end tests, driven as a person would: a copy of it started from
// a fresh folder (which is therefore its capture folder) with a private settings store, options
// stored before the start, files looked at in the capture folder afterwards; and a window of
// another program to give the focus to.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace lumora::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lumora::settings::Option;

using Names = std::vector<std::string>;

inline std::string fixedStem(int n, const std::string& tag = "") {
    char digits[32];
    std::snprintf(digits, sizeof digits, "_%04d", n);
    return "Lumora截图贴士" + tag + digits;
}

inline std::string trim(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    return s;
}

// The capture files of a folder: everything but the program itself.
inline Names captures(const fs::path& folder, const std::string& programName) {
    Names names;
    for (const auto& name : listFolder(folder))
        if (name != programName)
            names.push_back(name);
    return names;
}

// N as the settings key holds it in the registry store's file, read as text so the test does
// not rely on the store's own reader.
inline std::optional<std::uint32_t> storedNumberInFile(const fs::path& regFile,
                                                       const std::string& name) {
    std::istringstream in(readTextFile(regFile));
    std::string line;
    bool inSettingsKey = false;
    auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string wanted = "\"" + lower(name) + "\"=dword:";
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty() && line[0] == '[') {
            inSettingsKey = lower(line) == "[hkey_local_machine\\software\\velmora\\krel-v1.10]";
            continue;
        }
        if (inSettingsKey && lower(line).rfind(wanted, 0) == 0)
            return static_cast<std::uint32_t>(std::stoul(line.substr(wanted.size()), nullptr, 16));
    }
    return std::nullopt;
}

struct Geometry {
    int width = 0;
    int height = 0;
};

// The text after `label` up to the end of its line, as xwininfo prints it.
inline std::string fieldAfter(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos)
        return {};
    const auto start = at + label.size();
    return trim(text.substr(start, text.find('\n', start) - start));
}

// The window manager's frame around a client window (the client's ancestor that is a child of
// the root), measured with xwininfo.
inline std::optional<Geometry> frameGeometry(const std::string& clientId) {
    std::string id = clientId;
    for (int depth = 0; depth < 10; ++depth) {
        std::string tree;
        if (runCommand("xwininfo -tree -id " + id, &tree) != 0)
            return std::nullopt;
        const std::string root = fieldAfter(tree, "Root window id: ");
        const std::string parent = fieldAfter(tree, "Parent window id: ");
        if (root.empty() || parent.empty())
            return std::nullopt;
        // Each is "0x... (name)"; the id is the first word.
        const std::string parentId = parent.substr(0, parent.find(' '));
        if (parentId == root.substr(0, root.find(' ')))
            break;
        id = parentId;
    }
    std::string info;
    if (runCommand("xwininfo -id " + id, &info) != 0)
        return std::nullopt;
    const std::string width = fieldAfter(info, "Width: ");
    const std::string height = fieldAfter(info, "Height: ");
    if (width.empty() || height.empty())
        return std::nullopt;
    return Geometry{std::stoi(width), std::stoi(height)};
}

inline std::atomic<int> instanceCounter{0};

// One copy of the program, run from a folder of its own with a private settings store.
class Program {
public:
    // `folder`, when given, is where the copy runs from (and so its capture folder): a folder
    // of the test's own, such as a small file system.
    explicit Program(const fs::path& folder = {}) {
        name_ = "lumora-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++instanceCounter);
        appDir_ = folder.empty() ? dir_.path() / "app" : folder;
        fs::create_directories(appDir_);
        fs::copy_file(LUMORA_EXECUTABLE, appDir_ / name_);
        fs::permissions(appDir_ / name_, fs::perms::owner_all, fs::perm_options::add);
        // Quiet, fast starts (no splash, no sound) and names that do not depend on the clock.
        store(Option::Logo, 0);
        store(Option::Sound, 0);
        store(Option::Naming, 0);
    }
    ~Program() { stop(); }

    void store(Option option, std::int64_t value) {
        ASSERT_TRUE(lumora::settings::writeNumber(option, value));
    }
    void store(Option option, const std::string& text) {
        ASSERT_TRUE(lumora::settings::writeText(option, text));
    }

    // Starts the program and waits until its main window is on the screen and its key timer
    // has had time to start observing the keys (its first tick comes 300 ms after the window).
    ::testing::AssertionResult start(std::chrono::milliseconds settle = 1500ms) {
        process_.setProgram(QString::fromStdString((appDir_ / name_).string()));
        process_.setWorkingDirectory(QString::fromStdString(dir_.path().string()));
        process_.setProcessChannelMode(readErrors_ ? QProcess::ForwardedOutputChannel
                                                   : QProcess::ForwardedChannels);
        process_.start();
        if (!process_.waitForStarted(10000))
            return ::testing::AssertionFailure() << "no start";
        const std::string pid = std::to_string(process_.processId());
        const bool shown = waitUntil(
            [&] {
                std::string out;
                return runCommand("xdotool search --onlyvisible --pid " + pid + " 2>/dev/null",
                                  &out) == 0 &&
                       !trim(out).empty();
            },
            20s);
        if (!shown)
            return ::testing::AssertionFailure() << "the main window never appeared";
        std::this_thread::sleep_for(settle);
        if (process_.state() != QProcess::Running)
            return ::testing::AssertionFailure() << "the program ended at start-up";
        return ::testing::AssertionSuccess();
    }

    // Takes the program's windows off the screen (it keeps running and watching the keys), for
    // a test that compares captures with the screen: the advert label blinks every second.
    void unmapWindows() {
        runCommand("xdotool search --onlyvisible --pid " + std::to_string(process_.processId()) +
                   " --name '^Lumora' windowunmap --sync %@ 2>/dev/null");
    }

    // Standard error is collected for errors() instead of passed through (it is shown at stop).
    void readErrors() { readErrors_ = true; }
    std::string errors() {
        if (readErrors_)
            errors_ += process_.readAllStandardError().toStdString();
        return errors_;
    }

    void stop() {
        if (readErrors_)
            std::cerr << errors();
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // As a desktop ends it at log-out (SIGTERM), or Ctrl+C in a terminal (SIGINT): the exit
    // code, or -1 when the signal ended it where it stood or it did not end within `timeout`.
    int endWithSignal(int signal, std::chrono::milliseconds timeout = 20s) {
        if (process_.state() == QProcess::NotRunning)
            return -1;
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        if (!process_.waitForFinished(static_cast<int>(timeout.count())))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    // As a crash or an out-of-memory kill would end it: no chance to finish anything.
    void killHard() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(5000);
    }

    bool running() { return process_.state() == QProcess::Running; }
    // The copy that runs, under the name that makes it one program with the others of its name.
    fs::path executable() const { return appDir_ / name_; }
    const fs::path& folder() const { return appDir_; }
    fs::path file(const std::string& name) const { return appDir_ / name; }
    Names files() const { return captures(appDir_, name_); }
    bool waitForFiles(std::size_t count, std::chrono::milliseconds timeout = 10s) const {
        // A file counts once it is complete: no temporary file is left beside it.
        return waitUntil(
            [&] {
                const auto names = files();
                const bool temp = std::any_of(names.begin(), names.end(),
                                              [](auto& n) { return n.rfind(".", 0) == 0; });
                return names.size() >= count && !temp;
            },
            timeout);
    }
    fs::path storeFile() const { return config_.registryFile("HKEY_LOCAL_MACHINE"); }
    std::optional<std::uint32_t> storedCounter() const {
        return storedNumberInFile(config_.registryFile("HKEY_LOCAL_MACHINE"), "N");
    }

private:
    ScopedConfigHome config_;
    TempDir dir_;
    fs::path appDir_;
    std::string name_;
    QProcess process_;
    bool readErrors_ = false;
    std::string errors_;
};

inline QSize screenSize() {
    return QGuiApplication::primaryScreen()->geometry().size();
}

// A window of another program, given the focus.
class ForeignWindow {
public:
    ForeignWindow() {
        title_ = "lumora-e2e-foreign-" + std::to_string(getpid());
        process_.start("xmessage", {"-title", QString::fromStdString(title_), "-geometry",
                                    "+300+200", "A window of another program"});
    }
    ~ForeignWindow() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    // The client window id once it is shown and active.
    std::string activate() {
        std::string id;
        waitUntil(
            [&] {
                std::string out;
                runCommand("xdotool search --onlyvisible --name '^" + title_ + "$' 2>/dev/null",
                           &out);
                id = trim(out);
                return !id.empty() && id.find('\n') == std::string::npos;
            },
            10s);
        if (id.empty())
            return id;
        const bool active = waitUntil(
            [&] {
                runCommand("xdotool windowactivate " + id + " 2>/dev/null");
                std::string out;
                runCommand("xdotool getactivewindow 2>/dev/null", &out);
                return trim(out) == id;
            },
            10s);
        return active ? id : std::string();
    }

private:
    std::string title_;
    QProcess process_;
};

}  // namespace lumora::test
