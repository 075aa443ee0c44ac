// The running program, driven as a person would: keys pressed on the desktop, options stored
// before the start, files looked at in the capture folder afterwards. Each test runs its own
// copy of the program from a fresh folder, which is therefore its capture folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <optional>
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

TEST_F(CaptureE2E, HeldKeyCapturesAtEveryTick) {
    Program program;
    ASSERT_TRUE(program.start());
    ASSERT_EQ(runCommand("xdotool keydown Print sleep 1.0 keyup Print"), 0);
    std::this_thread::sleep_for(700ms);
    const auto names = program.files();
    // Three or four ticks fall into one second; a slow capture may stretch a tick.
    EXPECT_GE(names.size(), 2u);
    EXPECT_LE(names.size(), 5u);
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], fixedStem(static_cast<int>(i) + 1) + ".bmp");
}

TEST_F(CaptureE2E, RemovedCaptureFolderUsesUpTheNumber) {
    Program program;
    ASSERT_TRUE(program.start());
    // The running program's own folder disappears (the program keeps running).
    fs::remove_all(program.folder());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(waitUntil([&] { return program.storedCounter() == 1u; }, 10s));
    EXPECT_FALSE(fs::exists(program.folder()));
    fs::create_directory(program.folder());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(1));
    EXPECT_EQ(listFolder(program.folder()), Names{fixedStem(2) + ".bmp"});
    EXPECT_TRUE(waitUntil([&] { return program.storedCounter() == 2u; }, 5s));
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
