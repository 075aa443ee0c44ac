// The capture pipeline and the schedule ticks against the real screen, the real encoders and a
// private settings store. The main window is open so the folder label and timers exist.
#include "capture/capture_and_save.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "assets/assets.h"
#include "capture/disk_guard.h"
#include "capture/file_naming.h"
#include "capture/schedule.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "platform/sound.h"
#include "platform/text.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "tests/capture/image_checks.h"
#include "tests/support/test_support.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace fs = std::filesystem;
using lumora::CaptureKind;
using lumora::captureSettings;
using lumora::ImageEngine;
using lumora::ScheduleMode;
using namespace lumora::test;
using namespace std::chrono_literals;

namespace {

using Names = std::vector<std::string>;
constexpr std::string_view kFolderLabel = "透明标签1";

std::string stem(std::int64_t n, const std::string& tag = "") {
    char digits[32];
    std::snprintf(digits, sizeof digits, "_%04lld", static_cast<long long>(n));
    return "Lumora截图贴士" + tag + digits;
}

// A capture whose file is complete (or known lost) on return, as the tests look right after.
void captureAndSave(lumora::platform::WindowHandle window = 0,
                    CaptureKind kind = CaptureKind::Manual) {
    lumora::capture::captureAndSave(window, kind);
    lumora::capture::finishPendingCaptures();
}

template <typename Tick>
void runTick(Tick tick) {
    tick({});
    lumora::capture::finishPendingCaptures();
}

std::int32_t storedCounter() {
    return lumora::settings::readNumber(lumora::settings::Option::Counter);
}

QSize screenSize() {
    return QGuiApplication::primaryScreen()->geometry().size();
}

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Every sound the suite plays is written to a file instead of a sound card.
        alsaConfig_ = new TempDir;
        writeTextFile(alsaConfig_->path() / "asound.conf",
                      "pcm.!default { type file slave.pcm { type null } file \"" +
                          (alsaConfig_->path() / "played.raw").string() + "\" format \"raw\" }\n");
        alsaEnv_ =
            new ScopedEnv("ALSA_CONFIG_PATH", (alsaConfig_->path() / "asound.conf").string());
    }
    static void TearDownTestSuite() {
        lumora::platform::stopAllSounds();
        delete alsaEnv_;
        delete alsaConfig_;
    }

    void SetUp() override {
        LUMORA_REQUIRE_X();
        config_.emplace();
        lumora::ui::openWindow(lumora::ui::kMainWindow);
        lumora::ui::setControlText(lumora::ui::kMainWindow, kFolderLabel, dir_.folder());
        auto& s = captureSettings();
        s = {};
        s.captureCounter = 7;
    }
    void TearDown() override {
        lumora::platform::stopAllSounds();
        captureSettings() = {};
        config_.reset();
    }

    fs::path file(const std::string& name) const { return dir_.path() / name; }
    static fs::path playedFile() { return alsaConfig_->path() / "played.raw"; }

    TempDir dir_;
    std::optional<ScopedConfigHome> config_;
    static inline TempDir* alsaConfig_ = nullptr;
    static inline ScopedEnv* alsaEnv_ = nullptr;
};

TEST_F(CaptureTest, BmpOfTheWholeScreen) {
    captureAndSave();
    ASSERT_EQ(listFolder(dir_.path()), Names{stem(7) + ".bmp"});
    const auto bytes = readFile(file(stem(7) + ".bmp"));
    const auto info = readBmpInfo(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, screenSize().width());
    EXPECT_EQ(info->height, screenSize().height());
    EXPECT_EQ(info->bitsPerPixel, 24);
    EXPECT_EQ(info->fileSize, bytes.size());
    EXPECT_EQ(storedCounter(), 7);
    EXPECT_EQ(captureSettings().captureCounter, 8);
}

TEST_F(CaptureTest, JpgIsQuality75With420SamplingAndNoTemporaryFileRemains) {
    captureSettings().imageEngine = ImageEngine::Jpg;
    captureAndSave(0, CaptureKind::Manual);
    ASSERT_EQ(listFolder(dir_.path()), Names{stem(7) + ".jpg"});
    const auto bytes = readFile(file(stem(7) + ".jpg"));
    const auto info = readJpegInfo(bytes);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->baseline);
    EXPECT_TRUE(info->jfif);
    EXPECT_TRUE(info->endsWithEoi);
    EXPECT_EQ(info->width, screenSize().width());
    EXPECT_EQ(info->height, screenSize().height());
    ASSERT_EQ(info->components, 3);
    EXPECT_EQ(info->sampling, (std::vector<std::pair<int, int>>{{2, 2}, {1, 1}, {1, 1}}));
    EXPECT_EQ(info->quant[0], scaledStandardTable(false, 75));
    EXPECT_EQ(info->quant[1], scaledStandardTable(true, 75));
    QImage decoded;
    EXPECT_TRUE(decoded.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "JPG"));
    EXPECT_EQ(storedCounter(), 7);
    EXPECT_EQ(captureSettings().captureCounter, 8);
}

TEST_F(CaptureTest, PngIsWrittenThroughThePartFileAtTheScreensSize) {
    captureSettings().imageEngine = ImageEngine::Png;
    captureAndSave(0, CaptureKind::Manual);
    ASSERT_EQ(listFolder(dir_.path()), Names{stem(7) + ".png"});  // no hidden file left
    QImage decoded(QString::fromStdString(file(stem(7) + ".png").string()), "PNG");
    EXPECT_EQ(decoded.size(), screenSize());
    EXPECT_FALSE(decoded.hasAlphaChannel());
}

TEST_F(CaptureTest, ConsecutiveCapturesOfAnyKindShareTheRunningNumber) {
    captureAndSave(0, CaptureKind::Manual);
    captureSettings().imageEngine = ImageEngine::Jpg;
    captureAndSave(0, CaptureKind::Timed);
    captureAndSave(0, CaptureKind::Interval);
    EXPECT_EQ(listFolder(dir_.path()), (Names{stem(7) + ".bmp", stem(8, "_【定时截图】") + ".jpg",
                                              stem(9, "_【间断截图】") + ".jpg"}));
    EXPECT_EQ(storedCounter(), 9);
    EXPECT_EQ(captureSettings().captureCounter, 10);
}

TEST_F(CaptureTest, FixedSizeAppliesToScreenAndWindowInBothEncodings) {
    auto& s = captureSettings();
    s.outputWidth = 800;
    s.outputHeight = 600;
    const auto window = lumora::ui::windowHandle(lumora::ui::kMainWindow);
    ASSERT_NE(window, 0u);
    captureAndSave(0);
    captureAndSave(window);
    s.imageEngine = ImageEngine::Jpg;
    captureAndSave(0);
    captureAndSave(window);
    for (int n : {7, 8}) {
        const auto info = readBmpInfo(readFile(file(stem(n) + ".bmp")));
        ASSERT_TRUE(info) << n;
        EXPECT_EQ(info->width, 800);
        EXPECT_EQ(info->height, 600);
    }
    for (int n : {9, 10}) {
        const auto info = readJpegInfo(readFile(file(stem(n) + ".jpg")));
        ASSERT_TRUE(info) << n;
        EXPECT_EQ(info->width, 800);
        EXPECT_EQ(info->height, 600);
    }
}

// Every way a capture is lost here: the folder removed while the program runs, a window that
// vanished (no picture), a full disk, a read-only folder. None plays the shutter or leaves a
// file, every one uses up its number, and each cause in a run of consecutive losses is told
// once (within a minute), on the tray and on standard error; a success ends the run.
TEST_F(CaptureTest, LostCapturesAreToldOncePerCauseAndLeaveNothing) {
    auto& s = captureSettings();
    s.soundChoice = 2;
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow),
                                  lumora::assets::find("lumora.ico"), "test");
    const int traysBefore = lumora::platform::testing::trayMessagesShown();
    const auto gone = dir_.path() / "gone";
    auto captureInto = [&](const fs::path& folder, ImageEngine engine,
                           lumora::platform::WindowHandle window = 0) {
        s.imageEngine = engine;
        lumora::ui::setControlText(lumora::ui::kMainWindow, kFolderLabel, folder.string() + "/");
        const auto before = s.captureCounter;
        fs::remove(playedFile());
        captureAndSave(window);
        EXPECT_EQ(storedCounter(), before);
        EXPECT_EQ(s.captureCounter, before + 1);
    };
    auto soundPlayed = [&] {
        return waitUntil(
            [&] { return fs::exists(playedFile()) && fs::file_size(playedFile()) > 0; }, 1s);
    };

    ::testing::internal::CaptureStderr();
    fs::create_directory(gone);
    fs::remove(gone);
    captureInto(gone, ImageEngine::Bmp);
    captureInto(gone, ImageEngine::Jpg);
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 1);
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find(gone.string()), std::string::npos);
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("保存目录不存在"),
              std::string::npos);
    captureInto(dir_.path(), ImageEngine::Bmp, 0x3fffffff);  // an id nobody was handed
    captureInto(dir_.path(), ImageEngine::Jpg, 0x3fffffff);
    EXPECT_FALSE(soundPlayed()) << "a lost capture played the shutter";
    EXPECT_TRUE(listFolder(dir_.path()).empty());
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 2);
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("没能截取到画面"),
              std::string::npos);

    captureInto(dir_.path(), ImageEngine::Bmp);  // saved: the run ends
    EXPECT_TRUE(soundPlayed());
    EXPECT_EQ(listFolder(dir_.path()).size(), 1u);

    // A 3 MB disk takes a JPG but not a 1080p BMP; then it becomes read-only.
    const auto small = dir_.path() / "small";
    fs::create_directory(small);
    if (runCommand("mount -t tmpfs -o size=3m lumora-test '" + small.string() + "' 2>/dev/null") ==
        0) {
        captureInto(small, ImageEngine::Jpg);
        EXPECT_EQ(listFolder(small).size(), 1u);
        captureInto(small, ImageEngine::Bmp);
        captureInto(small, ImageEngine::Bmp);
        EXPECT_EQ(listFolder(small).size(), 1u) << "a partial file was left";
        EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 3);
        EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("磁盘空间已满"),
                  std::string::npos);
        ASSERT_EQ(runCommand("mount -o remount,ro '" + small.string() + "'"), 0);
        captureInto(small, ImageEngine::Jpg);
        captureInto(small, ImageEngine::Jpg);
        EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 4);
        EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("只读"), std::string::npos);
        runCommand("umount '" + small.string() + "'");
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    const int runs = lumora::platform::testing::trayMessagesShown() - traysBefore;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), runs) << err;
    EXPECT_NE(err.find("not saved in " + gone.string()), std::string::npos) << err;
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow));
}

// A settings store that refuses the running number: the capture is still saved, and the
// refusal is told once per run of refusals.
TEST_F(CaptureTest, RunningNumberTheStoreRefusesIsToldOncePerRun) {
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow),
                                  lumora::assets::find("lumora.ico"), "test");
    const int traysBefore = lumora::platform::testing::trayMessagesShown();
    const auto notAFolder = dir_.path() / "config-file";
    writeTextFile(notAFolder, "");
    ::testing::internal::CaptureStderr();
    {
        ScopedEnv refusing("XDG_CONFIG_HOME", notAFolder.string());
        captureAndSave();
        captureAndSave();
    }
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 1);
    captureAndSave();  // stored: the run ends
    EXPECT_EQ(storedCounter(), 9);
    {
        ScopedEnv refusing("XDG_CONFIG_HOME", notAFolder.string());
        captureAndSave();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 2);
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("10"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_EQ(listFolder(dir_.path()).size() - 1, 4u);  // the captures themselves were saved
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow));
}

// Someone who may write to the capture folder swaps every new file for a link to a file
// elsewhere the moment it appears. Nothing is ever written through the link.
TEST_F(CaptureTest, ALinkSwappedInNeverGetsTheCapture) {
    const auto outside = dir_.path() / "outside";
    const auto folder = dir_.path() / "shared";
    fs::create_directory(folder);
    writeTextFile(outside, "not yours");
    lumora::ui::setControlText(lumora::ui::kMainWindow, kFolderLabel, folder.string() + "/");
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
    std::atomic<bool> stop{false};
    std::thread attacker([&] {
        alignas(inotify_event) char buffer[4096];
        pollfd p{watch, POLLIN, 0};
        while (!stop) {
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0) {
                    const auto name = folder / event->name;
                    if (!fs::is_symlink(name) && ::unlink(name.c_str()) == 0)
                        ::symlink(outside.c_str(), name.c_str());
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    });
    for (int i = 0; i < 8; ++i) {
        captureSettings().imageEngine = i % 2 ? ImageEngine::Jpg : ImageEngine::Bmp;
        captureAndSave();
    }
    stop = true;
    attacker.join();
    ::close(watch);
    EXPECT_EQ(readTextFile(outside), "not yours");
}

// The caller learns each capture's end once, after the call has returned, in capture order.
TEST_F(CaptureTest, DoneIsToldOnceAfterTheCallInCaptureOrder) {
    std::vector<lumora::capture::CaptureOutcome> told;
    auto record = [&](const lumora::capture::CaptureOutcome& outcome) { told.push_back(outcome); };
    captureSettings().imageEngine = ImageEngine::Jpg;
    lumora::capture::captureAndSave(0, CaptureKind::Manual, record);
    lumora::capture::captureAndSave(0x3fffffff, CaptureKind::Manual, record);
    EXPECT_TRUE(told.empty());
    lumora::capture::finishPendingCaptures();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[0].saved);
    EXPECT_EQ(told[0].path, file(stem(7) + ".jpg").string());
    EXPECT_FALSE(told[1].saved);
    EXPECT_TRUE(told[1].path.empty());
    EXPECT_NE(told[1].error, "");
    waitUntil([] { return false; }, 100ms);  // posted deliveries find nothing left to tell
    EXPECT_EQ(told.size(), 2u);
}

TEST_F(CaptureTest, ExistingFileOfTheComputedNameSurvives) {
    writeTextFile(file(stem(7) + ".bmp"), "a user's file");
    writeTextFile(file(stem(8) + ".jpg"), "another");
    captureAndSave();
    captureSettings().imageEngine = ImageEngine::Jpg;
    captureAndSave();
    EXPECT_EQ(readTextFile(file(stem(7) + ".bmp")), "a user's file");
    EXPECT_EQ(readTextFile(file(stem(8) + ".jpg")), "another");
    EXPECT_TRUE(readBmpInfo(readFile(file(stem(7) + " (2).bmp"))));
    EXPECT_TRUE(readJpegInfo(readFile(file(stem(8) + " (2).jpg"))));
    EXPECT_EQ(listFolder(dir_.path()).size(), 4u);
    EXPECT_EQ(storedCounter(), 8);
}

TEST_F(CaptureTest, ALongestNameAlreadyTakenStillGetsANameOfItsOwn) {
    // The stem is as long as naming allows; the " (2)" that keeps the existing file must still
    // fit in a file name, or the capture would be lost.
    const std::string prefix(300, 'p');
    ASSERT_TRUE(lumora::settings::writeText(lumora::settings::Option::CustomPrefix, prefix));
    captureSettings().namingRule = lumora::NamingRule::CustomPrefix;
    const std::string taken = lumora::capture::makeFileStem(CaptureKind::Manual);
    ASSERT_EQ(taken.size(), lumora::capture::kMaxStemBytes);
    writeTextFile(file(taken + ".bmp"), "a user's file");
    captureAndSave();
    EXPECT_EQ(readTextFile(file(taken + ".bmp")), "a user's file");
    EXPECT_TRUE(readBmpInfo(readFile(file(taken + " (2).bmp"))));
}

TEST_F(CaptureTest, UsersTempFileSurvivesAJpgCapture) {
    writeTextFile(file(".temp.bmp"), "kept by the user");
    captureSettings().imageEngine = ImageEngine::Jpg;
    captureAndSave();
    EXPECT_EQ(readTextFile(file(".temp.bmp")), "kept by the user");
    EXPECT_EQ(listFolder(dir_.path()), (Names{".temp.bmp", stem(7) + ".jpg"}));
}

TEST_F(CaptureTest, LabelWithoutAFolderSendsTheCaptureToTheDefaultFolder) {
    // During the start-up splash the label still shows its placeholder text.
    auto& s = captureSettings();
    s.namingRule = lumora::NamingRule::CustomPrefix;
    const std::string prefix = "lumora-capture-test-" + std::to_string(getpid());
    lumora::settings::writeText(lumora::settings::Option::CustomPrefix, prefix);
    const fs::path expected = lumora::platform::defaultCaptureFolder() + prefix + "_0007.bmp";
    for (std::string label : {"透明标签", ""}) {
        lumora::ui::setControlText(lumora::ui::kMainWindow, kFolderLabel, label);
        captureAndSave();
        EXPECT_TRUE(readBmpInfo(readFile(expected))) << "label \"" << label << "\"";
        fs::remove(expected);
        s.captureCounter = 7;
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "透明标签"));
    EXPECT_TRUE(listFolder(dir_.path()).empty());
}

// --- schedule ticks ---

// A list naming the seconds around now, so exactly one entry matches at any tick of the test.
std::string listAroundNow(int copies) {
    const auto t = lumora::platform::now();
    std::string list;
    for (int d = -2; d <= 3; ++d) {
        const auto at = t + d / 86400.0;
        for (int c = 0; c < copies; ++c) {
            list += std::to_string(lumora::platform::hourOf(at)) + "：" +
                    std::to_string(lumora::platform::minuteOf(at)) + "：" +
                    std::to_string(lumora::platform::secondOf(at)) + "；";
        }
    }
    return list;
}

TEST_F(CaptureTest, TimedTickCapturesOncePerMatchingEntry) {
    auto& s = captureSettings();
    s.timedCaptureMode = ScheduleMode::WholeScreen;
    s.timedCaptureTimes = listAroundNow(1);
    runTick(lumora::capture::timedCaptureTick);
    EXPECT_EQ(listFolder(dir_.path()), Names{stem(7, "_【定时截图】") + ".bmp"});
    s.timedCaptureTimes = listAroundNow(2);
    runTick(lumora::capture::timedCaptureTick);
    EXPECT_EQ(listFolder(dir_.path()).size(), 3u);
    EXPECT_EQ(s.captureCounter, 10);
    // ASCII separators never match, and an empty list matches nothing.
    std::string ascii;
    for (const std::string& entry : lumora::platform::splitText(listAroundNow(1), "；"))
        ascii += QString::fromStdString(entry).replace("：", ":").toStdString() + ";";
    s.timedCaptureTimes = ascii;
    runTick(lumora::capture::timedCaptureTick);
    s.timedCaptureTimes.clear();
    runTick(lumora::capture::timedCaptureTick);
    EXPECT_EQ(listFolder(dir_.path()).size(), 3u);
}

TEST_F(CaptureTest, TimedTickWithActiveWindowScopeCapturesTheForegroundWindow) {
    auto& s = captureSettings();
    s.timedCaptureMode = ScheduleMode::ActiveWindow;
    s.timedCaptureTimes = listAroundNow(1);
    runTick(lumora::capture::timedCaptureTick);
    const auto names = listFolder(dir_.path());
    ASSERT_EQ(names, Names{stem(7, "_【定时截图】") + ".bmp"});
    EXPECT_TRUE(readBmpInfo(readFile(file(names[0]))));
}

TEST_F(CaptureTest, TicksWithTheirModeOffStopTheirTimerWithoutCapturing) {
    using lumora::ui::kMainWindow;
    lumora::ui::setTimerInterval(kMainWindow, "时钟3", 800);
    lumora::ui::setTimerInterval(kMainWindow, "时钟2", 5000);
    captureSettings().timedCaptureTimes = listAroundNow(1);
    runTick(lumora::capture::timedCaptureTick);
    runTick(lumora::capture::intervalCaptureTick);
    EXPECT_EQ(lumora::ui::timerInterval(kMainWindow, "时钟3"), 0);
    EXPECT_EQ(lumora::ui::timerInterval(kMainWindow, "时钟2"), 0);
    EXPECT_TRUE(listFolder(dir_.path()).empty());
    EXPECT_EQ(captureSettings().captureCounter, 7);
}

TEST_F(CaptureTest, IntervalTickCapturesByItsScope) {
    auto& s = captureSettings();
    s.intervalCaptureMode = ScheduleMode::WholeScreen;
    runTick(lumora::capture::intervalCaptureTick);
    s.intervalCaptureMode = ScheduleMode::ActiveWindow;
    runTick(lumora::capture::intervalCaptureTick);
    EXPECT_EQ(listFolder(dir_.path()),
              (Names{stem(7, "_【间断截图】") + ".bmp", stem(8, "_【间断截图】") + ".bmp"}));
    const auto screen = readBmpInfo(readFile(file(stem(7, "_【间断截图】") + ".bmp")));
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->width, screenSize().width());
}

// --- unattended use ---

// Skipping unchanged frames on the screen this test shows (the main window, whose advert label
// may blink, is left out): the first interval frame is saved, the same picture again uses no
// number; a timed frame compares with its own last frame; key presses are always saved; a
// window of another program that appears is a change.
TEST_F(CaptureTest, UnchangedScheduledFramesAreSkippedWithoutUsingANumber) {
    auto& s = captureSettings();
    s.skipUnchanged = true;
    s.intervalCaptureMode = ScheduleMode::WholeScreen;
    s.timedCaptureMode = ScheduleMode::WholeScreen;
    s.timedCaptureTimes = listAroundNow(1);
    std::vector<lumora::capture::CaptureOutcome> told;
    auto interval = [&] {
        lumora::capture::captureAndSave(0, CaptureKind::Interval,
                                        [&](const auto& outcome) { told.push_back(outcome); });
        lumora::capture::finishPendingCaptures();
    };
    // The window manager has framed the new main window, and the screen shows it all.
    waitUntil([] { return false; }, 500ms);
    interval();
    // The program's own window moves between the frames: where it was and where it is are
    // left out.
    using lumora::ui::kMainWindow;
    const int left = lumora::ui::windowLeft(kMainWindow), top = lumora::ui::windowTop(kMainWindow);
    runCommand("xdotool windowmove " + std::to_string(lumora::ui::windowHandle(kMainWindow)) + " " +
               std::to_string(left + 160) + " " + std::to_string(top + 90));
    ASSERT_TRUE(waitUntil([&] { return lumora::ui::windowLeft(kMainWindow) != left; }, 3s));
    waitUntil([] { return false; }, 500ms);
    interval();
    interval();
    EXPECT_EQ(listFolder(dir_.path()), Names{stem(7, "_【间断截图】") + ".bmp"});
    EXPECT_EQ(s.captureCounter, 8);
    ASSERT_EQ(told.size(), 3u);
    EXPECT_TRUE(told[0].saved);
    EXPECT_TRUE(told[1].skipped && told[2].skipped && !told[1].saved);

    runTick(lumora::capture::timedCaptureTick);
    captureAndSave(0, CaptureKind::Manual);
    EXPECT_EQ(listFolder(dir_.path()).size(), 3u);
    EXPECT_EQ(s.captureCounter, 10);
    EXPECT_EQ(storedCounter(), 9);

    QProcess other;
    const QString title = QString("lumora-compare-%1").arg(getpid());
    other.start("xmessage", {"-title", title, "-geometry", "+200+150", "something new"});
    ASSERT_TRUE(waitUntil(
        [&] {
            return runCommand("xdotool search --onlyvisible --name '^" + title.toStdString() +
                              "$' >/dev/null 2>&1") == 0;
        },
        5s));
    waitUntil([] { return false; }, 300ms);
    interval();
    other.kill();
    other.waitForFinished(3000);
    EXPECT_EQ(listFolder(dir_.path()).size(), 4u);
    EXPECT_TRUE(fs::exists(file(stem(10, "_【间断截图】") + ".bmp")));
    EXPECT_EQ(s.captureCounter, 11);
}

// A folder per day, made when needed, for every kind of capture; a link at its name is never
// followed: the capture is lost, said so, and nothing is written where the link points.
TEST_F(CaptureTest, CapturesGoIntoTheFolderOfTheDayNeverThroughALink) {
    auto& s = captureSettings();
    s.dayFolders = true;
    const std::string day = lumora::capture::dayFolderName(lumora::platform::now());
    captureAndSave(0, CaptureKind::Manual);
    s.imageEngine = ImageEngine::Jpg;
    captureAndSave(0, CaptureKind::Interval);
    EXPECT_EQ(listFolder(dir_.path()), Names{day});
    EXPECT_EQ(listFolder(dir_.path() / day),
              (Names{stem(7) + ".bmp", stem(8, "_【间断截图】") + ".jpg"}));

    TempDir outside;
    fs::remove_all(dir_.path() / day);
    fs::create_directory_symlink(outside.path(), dir_.path() / day);
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow),
                                  lumora::assets::find("lumora.ico"), "test");
    ::testing::internal::CaptureStderr();
    captureAndSave(0, CaptureKind::Manual);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(listFolder(outside.path()).empty());
    EXPECT_NE(err.find("the day folder is a link"), std::string::npos) << err;
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("链接"), std::string::npos);
    // The link gone, the day folder is made again and the run of losses ends.
    fs::remove(dir_.path() / day);
    captureAndSave(0, CaptureKind::Manual);
    EXPECT_EQ(listFolder(dir_.path() / day), Names{stem(10) + ".jpg"});
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow));
}

// A file system nearly full: scheduled captures pause, saying so once; a key press still
// tries (and its loss is told as any other); freeing space lets them go on, said once too.
TEST_F(CaptureTest, ScheduledCapturesPauseOnANearlyFullDiskAndGoOnWhenSpaceIsBack) {
    const auto small = dir_.path() / "small";
    fs::create_directory(small);
    if (runCommand("mount -t tmpfs -o size=20m lumora-test '" + small.string() + "' 2>/dev/null") !=
        0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    auto& s = captureSettings();
    s.intervalCaptureMode = ScheduleMode::WholeScreen;
    lumora::ui::setControlText(lumora::ui::kMainWindow, kFolderLabel, small.string() + "/");
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow),
                                  lumora::assets::find("lumora.ico"), "test");
    const int traysBefore = lumora::platform::testing::trayMessagesShown();
    // 19 of 20 MB taken: below the floor of 2 MB free.
    runCommand("head -c 19M /dev/zero > '" + (small / "filler").string() + "'");
    ::testing::internal::CaptureStderr();
    runTick(lumora::capture::intervalCaptureTick);
    runTick(lumora::capture::intervalCaptureTick);
    EXPECT_EQ(listFolder(small), Names{"filler"});
    EXPECT_EQ(s.captureCounter, 7);
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 1);
    EXPECT_NE(lumora::platform::testing::lastTrayMessage().find("暂停"), std::string::npos);
    captureAndSave(0, CaptureKind::Manual);  // a 1080p BMP does not fit in 1 MB
    EXPECT_EQ(listFolder(small), Names{"filler"}) << "a partial file was left";
    EXPECT_EQ(s.captureCounter, 8);
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 2);
    fs::remove(small / "filler");
    runTick(lumora::capture::intervalCaptureTick);
    runTick(lumora::capture::intervalCaptureTick);
    const std::string err = ::testing::internal::GetCapturedStderr();
    runCommand("umount '" + small.string() + "'");
    EXPECT_EQ(lumora::platform::testing::trayMessagesShown(), traysBefore + 3);
    EXPECT_NE(err.find("scheduled captures paused"), std::string::npos) << err;
    EXPECT_NE(err.find("scheduled captures resumed"), std::string::npos) << err;
    EXPECT_EQ(s.captureCounter, 10);
    lumora::platform::setTrayIcon(lumora::ui::windowHandle(lumora::ui::kMainWindow));
}

}  // namespace
