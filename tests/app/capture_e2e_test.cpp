// The running program, driven as a person would: keys pressed on the desktop, options stored
// before the start, files looked at in the capture folder afterwards. Each test runs its own
// copy of the program from a fresh folder, which is therefore its capture folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "settings/settings_store.h"
#include "tests/capture/image_checks.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

using Names = std::vector<std::string>;

std::string fixedStem(int n, const std::string& tag = "") {
    char digits[32];
    std::snprintf(digits, sizeof digits, "_%04d", n);
    return "Lumora截图贴士" + tag + digits;
}

std::string trim(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    return s;
}

// The capture files of a folder: everything but the program itself.
Names captures(const fs::path& folder, const std::string& programName) {
    Names names;
    for (const auto& name : listFolder(folder))
        if (name != programName)
            names.push_back(name);
    return names;
}

// N as the settings key holds it in the registry store's file, read as text so the test does
// not rely on the store's own reader.
std::optional<std::uint32_t> storedNumberInFile(const fs::path& regFile, const std::string& name) {
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
std::string fieldAfter(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos)
        return {};
    const auto start = at + label.size();
    return trim(text.substr(start, text.find('\n', start) - start));
}

// The window manager's frame around a client window (the client's ancestor that is a child of
// the root), measured with xwininfo.
std::optional<Geometry> frameGeometry(const std::string& clientId) {
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

std::atomic<int> instanceCounter{0};

// One copy of the program, run from a folder of its own with a private settings store.
class Program {
public:
    Program() {
        name_ = "lumora-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++instanceCounter);
        appDir_ = dir_.path() / "app";
        fs::create_directory(appDir_);
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

    // As a crash or an out-of-memory kill would end it: no chance to finish anything.
    void killHard() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(5000);
    }

    bool running() { return process_.state() == QProcess::Running; }
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

QSize screenSize() {
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

class CaptureE2E : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        if (!fs::exists(LUMORA_EXECUTABLE))
            GTEST_SKIP() << "the program is not built";
    }
    void TearDown() override { runCommand("xdotool keyup Print keyup Insert 2>/dev/null"); }
};

TEST_F(CaptureE2E, PrintScreenAndInsertWriteNumberedBmpFiles) {
    Program program;
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());
    ForeignWindow foreign;
    const std::string client = foreign.activate();
    ASSERT_FALSE(client.empty()) << "could not focus a window of another program";
    const auto frame = frameGeometry(client);
    ASSERT_TRUE(frame);

    // Quick presses: down and up again long before the next tick of the key timer.
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1));
    ASSERT_EQ(runCommand("xdotool key Insert"), 0);
    ASSERT_TRUE(program.waitForFiles(2));
    std::this_thread::sleep_for(700ms);  // a second file for one press would show by now
    ASSERT_EQ(program.files(), (Names{fixedStem(1) + ".bmp", fixedStem(2) + ".bmp"}));

    const auto screen = readFile(program.file(fixedStem(1) + ".bmp"));
    const auto screenInfo = readBmpInfo(screen);
    ASSERT_TRUE(screenInfo);
    EXPECT_EQ(screenInfo->width, screenSize().width());
    EXPECT_EQ(screenInfo->height, screenSize().height());
    EXPECT_EQ(screenInfo->bitsPerPixel, 24);
    EXPECT_EQ(screenInfo->fileSize, screen.size());
    const std::size_t rowBytes = (static_cast<std::size_t>(screenInfo->width) * 3 + 3) / 4 * 4;
    EXPECT_EQ(screen.size(), 54 + rowBytes * static_cast<std::size_t>(screenInfo->height));

    const auto windowInfo = readBmpInfo(readFile(program.file(fixedStem(2) + ".bmp")));
    ASSERT_TRUE(windowInfo);
    EXPECT_EQ(windowInfo->width, frame->width);
    EXPECT_EQ(windowInfo->height, frame->height);
    EXPECT_EQ(program.storedCounter(), 2u);
}

TEST_F(CaptureE2E, BothKeysTogetherCaptureScreenThenWindow) {
    Program program;
    ASSERT_TRUE(program.start());
    ForeignWindow foreign;
    const std::string client = foreign.activate();
    ASSERT_FALSE(client.empty());
    const auto frame = frameGeometry(client);
    ASSERT_TRUE(frame);

    ASSERT_EQ(
        runCommand("xdotool keydown Print keydown Insert sleep 0.05 keyup Insert keyup Print"), 0);
    ASSERT_TRUE(program.waitForFiles(2));
    std::this_thread::sleep_for(700ms);
    ASSERT_EQ(program.files(), (Names{fixedStem(1) + ".bmp", fixedStem(2) + ".bmp"}));
    const auto first = readBmpInfo(readFile(program.file(fixedStem(1) + ".bmp")));
    const auto second = readBmpInfo(readFile(program.file(fixedStem(2) + ".bmp")));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->width, screenSize().width());
    EXPECT_EQ(second->width, frame->width);
    EXPECT_EQ(second->height, frame->height);
    EXPECT_EQ(program.storedCounter(), 2u);
}

TEST_F(CaptureE2E, JpgCaptureIsQuality75AndLeavesNoTemporaryFile) {
    Program program;
    program.store(Option::Engine, 1);
    program.store(Option::Counter, 41);  // the next capture continues with 42
    ASSERT_TRUE(program.start());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1));
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(program.files(), Names{fixedStem(42) + ".jpg"});
    const auto info = readJpegInfo(readFile(program.file(fixedStem(42) + ".jpg")));
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->baseline);
    EXPECT_EQ(info->width, screenSize().width());
    EXPECT_EQ(info->height, screenSize().height());
    EXPECT_EQ(info->sampling, (std::vector<std::pair<int, int>>{{2, 2}, {1, 1}, {1, 1}}));
    EXPECT_EQ(info->quant[0], scaledStandardTable(false, 75));
    EXPECT_EQ(info->quant[1], scaledStandardTable(true, 75));
    EXPECT_EQ(program.storedCounter(), 42u);
}

TEST_F(CaptureE2E, PressWhileTheLogoPlaysLandsInTheCaptureFolder) {
    Program program;
    program.store(Option::Logo, 1);
    // Early enough to fall into the splash, which pauses start-up with events processed.
    ASSERT_TRUE(program.start(400ms));
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1, 20s));
    EXPECT_EQ(program.files(), Names{fixedStem(1) + ".bmp"});
}

// Captures come at the press, not at the next tick of the key timer: presses closer than a
// tick each give a file, a normal press gives one wherever it falls between ticks, and a key
// held down captures again every 300 ms from its press.
TEST_F(CaptureE2E, EveryPressCapturesOnceAndAHeldKeyRepeats) {
    Program program;
    ASSERT_TRUE(program.start());
    // Five quick presses 100 ms apart: a third of a tick.
    ASSERT_EQ(runCommand("xdotool key --delay 100 Print Print Print Print Print"), 0);
    ASSERT_TRUE(program.waitForFiles(5));
    // Six presses held 120 ms, 190 ms apart: some straddle a tick, none lasts one period.
    ASSERT_EQ(runCommand("for i in 1 2 3 4 5 6; do xdotool keydown Print sleep 0.12 keyup Print "
                         "sleep 0.07; done"),
              0);
    ASSERT_TRUE(program.waitForFiles(11));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(program.files().size(), 11u);
    // Held 1 s: at the press, then at 300, 600 and 900 ms (and 1000 ms when slow to release).
    ASSERT_EQ(runCommand("xdotool keydown Print sleep 1.0 keyup Print"), 0);
    std::this_thread::sleep_for(700ms);
    const auto names = program.files();
    EXPECT_GE(names.size(), 11u + 4u);
    EXPECT_LE(names.size(), 11u + 5u);
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], fixedStem(static_cast<int>(i) + 1) + ".bmp");
    EXPECT_EQ(program.storedCounter(), names.size());
}

// The JPG is encoded from the picture in memory: its bytes are those cjpeg makes of the same
// screen, and nothing but the capture's own hidden name and its final name ever appears in
// the folder.
TEST_F(CaptureE2E, JpgIsCjpegOfTheScreenWithNoTemporaryFile) {
    TempDir work;
    // A photo-like root window, so the encoder has real work and the comparison means something.
    const auto picture = work.path() / "screen.png";
    ASSERT_EQ(
        runCommand("convert -seed 7 -size 480x270 plasma:fractal -scale 400% '" + picture.string() +
                   "' && (display -window root '" + picture.string() + "' || true)"),
        0);
    Program program;
    program.store(Option::Engine, 1);
    ASSERT_TRUE(program.start());
    // Every name created in the folder while capturing.
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, program.folder().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1));
    const auto reference = work.path() / "screen.ppm";
    ASSERT_EQ(runCommand("import -window root '" + reference.string() + "'"), 0);
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(2));
    Names created;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                created.emplace_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    runCommand("xsetroot -def");

    const auto expected = work.path() / "expected.jpg";
    ASSERT_EQ(runCommand("cjpeg -quality 75 -optimize -outfile '" + expected.string() + "' '" +
                         reference.string() + "'"),
              0);
    EXPECT_EQ(readFile(program.file(fixedStem(1) + ".jpg")), readFile(expected));
    EXPECT_EQ(readFile(program.file(fixedStem(2) + ".jpg")), readFile(expected));
    ASSERT_FALSE(created.empty());
    for (const auto& name : created) {
        const bool ownHidden = name.rfind(".lumora-", 0) == 0 && name.size() > 5 &&
                               name.substr(name.size() - 5) == ".part";
        EXPECT_TRUE(ownHidden || name == fixedStem(1) + ".jpg" || name == fixedStem(2) + ".jpg")
            << name;
    }
}

// The program killed at random moments while it captures, again and again: after a clean
// start the store reads, no number was handed out twice, and the folder holds only complete
// pictures under their names.
TEST_F(CaptureE2E, KilledWhileCapturingLeavesOnlyCompleteFiles) {
    Program program;
    std::mt19937 random(std::random_device{}());
    std::uint32_t lastStored = 0;
    for (int round = 0; round < 30; ++round) {
        program.store(Option::Engine, round % 2);
        ASSERT_TRUE(program.start(350ms)) << "round " << round;
        QProcess presses;
        presses.start("xdotool", {"key", "--delay", "40", "Print", "Print", "Print", "Print",
                                  "Print", "Print", "Print", "Print"});
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
        program.killHard();
        presses.waitForFinished(5000);
        const auto stored = program.storedCounter();
        ASSERT_TRUE(stored) << "round " << round;
        EXPECT_GE(*stored, lastStored);
        lastStored = *stored;
    }
    runCommand("xdotool keyup Print");
    ASSERT_TRUE(program.start(350ms));
    // The start removes the hidden files the kills left.
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto names = program.files();
            return std::none_of(names.begin(), names.end(),
                                [](const std::string& n) { return n.rfind(".", 0) == 0; });
        },
        5s));
    program.stop();
    const auto stored = program.storedCounter();
    ASSERT_TRUE(stored);
    std::uint32_t highest = 0;
    for (const auto& name : program.files()) {
        ASSERT_EQ(name.find(" ("), std::string::npos) << "a number was used twice: " << name;
        const auto number = static_cast<std::uint32_t>(
            std::stoul(name.substr(name.rfind('_') + 1, name.rfind('.') - name.rfind('_') - 1)));
        highest = std::max(highest, number);
        const auto bytes = readFile(program.file(name));
        if (name.ends_with(".bmp")) {
            const auto info = readBmpInfo(bytes);
            EXPECT_TRUE(info && info->fileSize == bytes.size()) << name;
        } else {
            const auto info = readJpegInfo(bytes);
            EXPECT_TRUE(info && info->endsWithEoi) << name;
        }
    }
    EXPECT_GT(highest, 0u) << "no capture was ever saved";
    // N is the number of the last capture asked for: the last saved, or one a kill cut short.
    EXPECT_GE(*stored, highest);
    EXPECT_LE(*stored, highest + 8);
    EXPECT_FALSE(fs::exists(program.storeFile().string() + ".corrupt"));
}

// Captures into a folder removed while the program runs are lost: the numbers are used up, and
// standard error says so once for the run of losses; the next saved capture ends the run.
TEST_F(CaptureE2E, RemovedCaptureFolderUsesUpTheNumberAndSaysSoOnce) {
    Program program;
    program.readErrors();
    ASSERT_TRUE(program.start());
    fs::remove_all(program.folder());
    ASSERT_EQ(runCommand("xdotool key Print sleep 0.1 key Print"), 0);
    ASSERT_TRUE(waitUntil([&] { return program.storedCounter() == 2u; }, 10s));
    ASSERT_TRUE(waitUntil(
        [&] {
            return program.errors().find("capture 2 ") == std::string::npos &&
                   program.errors().find("capture 1 was not saved in ") != std::string::npos;
        },
        10s))
        << program.errors();
    std::this_thread::sleep_for(500ms);  // a second line for the second loss would show by now
    const std::string errors = program.errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    fs::create_directory(program.folder());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1));
    EXPECT_EQ(listFolder(program.folder()), Names{fixedStem(3) + ".bmp"});
    EXPECT_TRUE(waitUntil([&] { return program.storedCounter() == 3u; }, 5s));
    EXPECT_TRUE(program.running());
}

// The clock a few seconds ahead, as the time list writes it.
std::string listEntry(lumora::platform::DateTime t, const std::string& colon) {
    return std::to_string(lumora::platform::hourOf(t)) + colon +
           std::to_string(lumora::platform::minuteOf(t)) + colon +
           std::to_string(lumora::platform::secondOf(t));
}

TEST_F(CaptureE2E, TimedCaptureWritesInTheListedSecondOnly) {
    using lumora::platform::now;
    Program program;
    // Names carry the time of the capture, which shows the second each file was made in.
    program.store(Option::Naming, 1);
    program.store(Option::TimedMode, 1);
    const auto target = now() + 8.0 / 86400.0;
    const auto asciiTarget = target + 2.0 / 86400.0;
    program.store(Option::TimedTimes,
                  listEntry(target, "：") + "；" + listEntry(asciiTarget, ":") + "；");
    ASSERT_TRUE(program.start());
    ASSERT_GT(target, now()) << "the program took too long to start";
    while (now() < asciiTarget + 2.0 / 86400.0)
        std::this_thread::sleep_for(200ms);

    const auto names = program.files();
    ASSERT_GE(names.size(), 1u);
    ASSERT_LE(names.size(), 2u);
    const std::string expected = lumora::platform::timeToText(target) + "_【定时截图】_000";
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], expected + std::to_string(i + 1) + ".bmp");
    }
    EXPECT_EQ(program.storedCounter(), static_cast<std::uint32_t>(names.size()));
}

TEST_F(CaptureE2E, IntervalCaptureWritesAboutOncePerSecond) {
    Program program;
    program.store(Option::IntervalMode, 1);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 1);
    ASSERT_TRUE(program.start());
    const auto firstCount = program.files().size();
    std::this_thread::sleep_for(4s);
    const auto names = program.files();
    const auto made = names.size() - firstCount;
    EXPECT_GE(made, 3u);
    EXPECT_LE(made, 5u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], fixedStem(static_cast<int>(i) + 1, "_【间断截图】") + ".jpg");
    }
}

}  // namespace
