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
#include "tests/support/program_e2e.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

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

    // Copy and paste in the focused program, and PrintScreen with each modifier: the keys of
    // other programs' shortcuts, no capture (a held chord neither, after its modifier is up).
    ASSERT_EQ(runCommand("xdotool key shift+Insert ctrl+Insert ctrl+Print shift+Print alt+Print "
                         "super+Print keydown Control_L keydown Insert keyup Control_L sleep 0.7 "
                         "keyup Insert"),
              0);
    std::this_thread::sleep_for(700ms);
    ASSERT_EQ(program.files(), Names{});

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
    // Between a capture and the reference the advert label may have changed colour.
    program.unmapWindows();
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

// Log-out ends the program with SIGTERM in the middle of a burst of presses: it ends as 退出
// does, with every capture pressed before complete under its name and N the last number.
TEST_F(CaptureE2E, TerminationSignalFinishesTheCapturesInFlight) {
    Program program;
    program.store(Option::Engine, 1);  // JPG: each file takes a while to encode
    ASSERT_TRUE(program.start());
    QProcess presses;
    presses.start("xdotool", {"key", "--delay", "50", "Print", "Print", "Print", "Print", "Print",
                              "Print", "Print", "Print", "Print", "Print"});
    ASSERT_TRUE(waitUntil([&] { return program.storedCounter().value_or(0) >= 3; }, 10s));
    EXPECT_EQ(program.endWithSignal(SIGTERM), 0);
    presses.waitForFinished(5000);
    const auto stored = program.storedCounter();
    ASSERT_TRUE(stored);
    Names expected;
    for (std::uint32_t n = 1; n <= *stored; ++n)
        expected.push_back(fixedStem(static_cast<int>(n)) + ".jpg");
    ASSERT_EQ(program.files(), expected) << "a capture was lost, or its file left unfinished";
    for (const auto& name : expected) {
        const auto info = readJpegInfo(readFile(program.file(name)));
        EXPECT_TRUE(info && info->endsWithEoi) << name;
    }
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
    std::size_t lossLines = 0;
    for (std::size_t at = errors.find("was not saved"); at != std::string::npos;
         at = errors.find("was not saved", at + 1))
        ++lossLines;
    EXPECT_EQ(lossLines, 1u) << errors;
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
