// The settings window as a person uses it, on the real runtime and the program's own binding
// table: what it shows on opening, the three refusals of apply and what each leaves stored,
// the schedule timers of the main window, the sound preview and the balloon hints.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/bindings.h"
#include "app/load_settings.h"
#include "app/settings_unattended.h"
#include "app/settings_window.h"
#include "assets/assets.h"
#include "platform/registry.h"
#include "platform/shell_testing.h"
#include "platform/sound.h"
#include "platform/sound_wav.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "tests/support/program_bindings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/qt/balloon_widget.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::settingswin {
namespace {

using settings::Option;
using test::waitUntil;

constexpr std::string_view S = ui::kSettingsWindow;
constexpr std::string_view M = ui::kMainWindow;
constexpr std::int32_t kAbsent = -123456;

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* topLevel(std::string_view window) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == q(window) && top->isVisible())
            return top;
    }
    return nullptr;
}

// A mouse movement over the widget, delivered to it alone: the pointer of the shared display
// may be moved by other tests at any time.
void hover(QWidget* widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

template <typename W = QWidget>
W* control(std::string_view name) {
    QWidget* top = topLevel(S);
    return top ? top->findChild<W*>(q(name)) : nullptr;
}

// With LUMORA_SHOT_DIR set, the whole screen is saved for a person to look at.
void shoot(const std::string& name) {
    const char* dir = std::getenv("LUMORA_SHOT_DIR");
    if (dir == nullptr)
        return;
    QTest::qWait(300);
    test::runCommand("import -window root '" + std::string(dir) + "/" + name + ".png'");
}

// The stored number, or kAbsent when the value is not in the store.
std::int32_t stored(Option option) {
    return platform::readNumber(settings::kRoot, settings::valuePath(option), kAbsent);
}

std::string storedText(Option option) {
    return platform::readText(settings::kRoot, settings::valuePath(option), "<absent>");
}

struct SeenBox {
    std::string title;
    std::string text;
};

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        ui::quitWhenLastWindowDestroyed(false);
        bindings_ = test::programBindingsForTests();
        ui::installBindings(bindings_);
        captureSettings() = CaptureSettings{};
        ui::openWindow(M);
        ui::setControlText(M, "透明标签1", folder_.folder());
        // Every message box of the program is read and answered with OK as soon as it shows.
        QObject::connect(&boxWatcher_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->objectName() != platform::testing::kMessageBoxName ||
                !box->isVisible()) {
                return;
            }
            boxes_.push_back({box->windowTitle().toStdString(), box->text().toStdString()});
            box->button(QMessageBox::Ok)->click();
        });
        boxWatcher_.start(20);
    }

    void TearDown() override {
        boxWatcher_.stop();
        ui::closeWindow(S);
        ui::closeWindow(M);
        waitUntil([] { return !ui::isWindowOpen(S) && !ui::isWindowOpen(M); });
        ui::installBindings({});
    }

    void openSettings() {
        ui::openWindow(S);
        ASSERT_TRUE(waitUntil([] { return topLevel(S) != nullptr; }));
    }

    // A person's click on a checkbox, radio or button of the settings window.
    void click(std::string_view name) {
        auto* button = control<QAbstractButton>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void type(std::string_view box, std::string_view text) {
        auto* edit = control<QLineEdit>(box);
        ASSERT_NE(edit, nullptr) << box;
        edit->clear();
        const bool ascii =
            std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
        if (ascii) {
            QTest::keyClicks(edit, q(text));
        } else {
            edit->insert(q(text));  // as typed through an input method
        }
    }

    void apply() { click("立即生效"); }

    bool closesAfterApply() {
        apply();
        return waitUntil([] { return !ui::isWindowOpen(S); }, std::chrono::seconds(5));
    }

    bool selected(std::string_view name) { return ui::controlSelected(S, name); }
    bool visible(std::string_view name) { return ui::controlVisible(S, name); }

    test::ScopedConfigHome config_;
    test::TempDir folder_;
    std::vector<ui::Binding> bindings_;
    QTimer boxWatcher_;
    std::vector<SeenBox> boxes_;
};

TEST_F(SettingsWindowTest, OpensWithTheDefaultsOfAnEmptyStore) {
    app::loadSettings();  // plays the logo, as the default asks
    openSettings();

    EXPECT_EQ(platform::testing::controlSchemeFrameColour(), 0xC6C5D7u);  // silver frames
    EXPECT_TRUE(selected("bmp模式"));
    EXPECT_FALSE(selected("jpg模式"));
    EXPECT_TRUE(selected("选择框_开启音效"));
    EXPECT_TRUE(selected("音效1"));
    EXPECT_FALSE(selected("音效2"));
    EXPECT_FALSE(selected("音效3"));
    EXPECT_TRUE(visible("按钮_音效试听"));
    EXPECT_TRUE(selected("显示logo"));
    EXPECT_TRUE(selected("原尺寸"));
    EXPECT_FALSE(selected("自定义尺寸"));
    EXPECT_FALSE(visible("编辑框_自定义长"));
    EXPECT_TRUE(selected("单选框_取现行时间"));
    EXPECT_FALSE(selected("单选框_自定义命名"));
    EXPECT_FALSE(visible("编辑框_自定义名"));
    EXPECT_EQ(ui::currentPage(S, "选择夹1"), 0);
    EXPECT_FALSE(selected("选择框_定时截图"));
    EXPECT_FALSE(selected("选择框_间断截图"));
    for (std::string_view member : {"标签_定时", "编辑框_定时", "选择框_定时截图_活动窗口",
                                    "标签_间时", "编辑框_间时", "选择框_间断截图_活动窗口"}) {
        EXPECT_FALSE(visible(member)) << member;
    }
    EXPECT_EQ(ui::controlText(S, "编辑框_定时"), "");
    EXPECT_EQ(ui::controlText(S, "编辑框_间时"), "");
}

TEST_F(SettingsWindowTest, ShowsEveryChoiceOfTheRecordAndApplyingUnchangedStoresTheSame) {
    CaptureSettings& s = captureSettings();
    s.imageEngine = ImageEngine::Jpg;
    s.soundChoice = 3;
    s.showLogo = false;
    s.outputWidth = 800;
    s.outputHeight = 600;
    s.namingRule = NamingRule::CustomPrefix;
    s.customPrefix = "我的截图";
    s.settingsTab = 4;
    s.timedCaptureMode = ScheduleMode::ActiveWindow;
    s.timedCaptureTimes = "8：30：00；12：00：00";
    s.intervalCaptureMode = ScheduleMode::WholeScreen;
    s.intervalSeconds = 30;
    openSettings();

    EXPECT_TRUE(selected("jpg模式"));
    EXPECT_FALSE(selected("bmp模式"));
    EXPECT_TRUE(selected("音效3"));
    EXPECT_FALSE(selected("音效1"));
    EXPECT_FALSE(selected("显示logo"));
    EXPECT_TRUE(selected("自定义尺寸"));
    EXPECT_FALSE(selected("原尺寸"));
    EXPECT_TRUE(visible("编辑框_自定义宽"));
    EXPECT_EQ(ui::controlText(S, "编辑框_自定义长"), "800");
    EXPECT_EQ(ui::controlText(S, "编辑框_自定义宽"), "600");
    EXPECT_TRUE(selected("单选框_自定义命名"));
    EXPECT_FALSE(selected("单选框_取现行时间"));
    EXPECT_EQ(ui::controlText(S, "编辑框_自定义名"), "我的截图");
    EXPECT_EQ(ui::currentPage(S, "选择夹1"), 4);
    EXPECT_TRUE(selected("选择框_定时截图"));
    EXPECT_TRUE(selected("选择框_定时截图_活动窗口"));
    EXPECT_TRUE(visible("编辑框_定时"));
    EXPECT_EQ(ui::controlText(S, "编辑框_定时"), "8：30：00；12：00：00");
    EXPECT_TRUE(selected("选择框_间断截图"));
    EXPECT_FALSE(selected("选择框_间断截图_活动窗口"));
    EXPECT_EQ(ui::controlText(S, "编辑框_间时"), "30");

    ASSERT_TRUE(closesAfterApply());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(stored(Option::Engine), 1);
    EXPECT_EQ(stored(Option::Sound), 3);
    EXPECT_EQ(stored(Option::Logo), 0);
    EXPECT_EQ(stored(Option::FixedSize), 1);
    EXPECT_EQ(stored(Option::Width), 800);
    EXPECT_EQ(stored(Option::Height), 600);
    EXPECT_EQ(stored(Option::Naming), 2);
    EXPECT_EQ(settings::readText(Option::CustomPrefix), "我的截图");
    EXPECT_EQ(stored(Option::SettingsTab), 4);
    EXPECT_EQ(stored(Option::TimedMode), 2);
    EXPECT_EQ(settings::readText(Option::TimedTimes), "8：30：00；12：00：00");
    EXPECT_EQ(stored(Option::IntervalMode), 1);
    EXPECT_EQ(stored(Option::IntervalSeconds), 30);
    EXPECT_EQ(ui::timerInterval(M, "时钟3"), kTimedTickMilliseconds);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 30000);
}

TEST_F(SettingsWindowTest, EmptyCustomNameIsRefusedAndNothingIsStored) {
    openSettings();
    click("jpg模式");
    click("单选框_自定义命名");
    EXPECT_TRUE(visible("编辑框_自定义名"));
    apply();
    ASSERT_TRUE(waitUntil([this] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_[0].title, kEmptyCustomNameCaption);
    EXPECT_EQ(boxes_[0].text, kEmptyCustomNameMessage);

    QTest::qWait(100);
    EXPECT_TRUE(ui::isWindowOpen(S));
    EXPECT_FALSE(std::filesystem::exists(config_.registryFile("HKEY_LOCAL_MACHINE")));
    EXPECT_EQ(captureSettings().imageEngine, ImageEngine::Bmp);
    EXPECT_EQ(captureSettings().namingRule, NamingRule::FixedPrefix);

    // Typing a name lets the same apply through.
    type("编辑框_自定义名", "shot");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(stored(Option::Engine), 1);
    EXPECT_EQ(stored(Option::Naming), 2);
    EXPECT_EQ(settings::readText(Option::CustomPrefix), "shot");
    EXPECT_EQ(captureSettings().customPrefix, "shot");
}

TEST_F(SettingsWindowTest, TimedCaptureWithoutTimesKeepsEarlierChoicesAndBothSchedules) {
    // Interval capture already runs, timed capture too, as a start-up would have left them.
    CaptureSettings& s = captureSettings();
    s.soundChoice = 1;
    s.timedCaptureMode = ScheduleMode::WholeScreen;
    s.timedCaptureTimes = "";
    s.intervalCaptureMode = ScheduleMode::WholeScreen;
    s.intervalSeconds = 60;
    platform::writeNumber(settings::kRoot, settings::valuePath(Option::TimedMode), 1.0);
    platform::writeNumber(settings::kRoot, settings::valuePath(Option::IntervalMode), 1.0);
    ui::setTimerInterval(M, "时钟3", 800);
    ui::setTimerInterval(M, "时钟2", 60000);
    openSettings();

    click("jpg模式");
    click("选择框_开启音效");  // sound off
    click("自定义尺寸");
    type("编辑框_自定义长", "640");
    type("编辑框_自定义宽", "480");
    click("单选框_Lumora广告");
    ui::setCurrentPage(S, "选择夹1", 5);
    ui::setControlText(S, "编辑框_定时", "");
    type("编辑框_间时", "5");
    apply();

    ASSERT_TRUE(waitUntil([this] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_[0].title, kNoteCaption);
    EXPECT_EQ(boxes_[0].text, kEmptyTimesMessage);
    QTest::qWait(100);
    EXPECT_TRUE(ui::isWindowOpen(S));

    EXPECT_EQ(stored(Option::Engine), 1);
    EXPECT_EQ(stored(Option::Sound), 0);
    EXPECT_EQ(stored(Option::Logo), 0);
    EXPECT_EQ(stored(Option::FixedSize), 1);
    EXPECT_EQ(stored(Option::Width), 640);
    EXPECT_EQ(stored(Option::Height), 480);
    EXPECT_EQ(stored(Option::Naming), 0);
    EXPECT_EQ(stored(Option::SettingsTab), 5);
    EXPECT_EQ(s.imageEngine, ImageEngine::Jpg);
    EXPECT_EQ(s.soundChoice, 0);
    EXPECT_EQ(s.outputWidth, 640);
    EXPECT_EQ(s.namingRule, NamingRule::FixedPrefix);
    EXPECT_EQ(s.settingsTab, 5);

    // Neither schedule was touched.
    EXPECT_EQ(stored(Option::TimedMode), 1);
    EXPECT_EQ(storedText(Option::TimedTimes), "<absent>");
    EXPECT_EQ(stored(Option::IntervalMode), 1);
    EXPECT_EQ(stored(Option::IntervalSeconds), kAbsent);
    EXPECT_EQ(s.timedCaptureMode, ScheduleMode::WholeScreen);
    EXPECT_EQ(s.intervalSeconds, 60);
    EXPECT_EQ(ui::timerInterval(M, "时钟3"), 800);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 60000);
}

TEST_F(SettingsWindowTest, IntervalWithoutSecondsIsRefusedAfterTimedCaptureIsStored) {
    openSettings();
    ui::setCurrentPage(S, "选择夹1", 5);
    click("选择框_定时截图");
    type("编辑框_定时", "8：30：00");
    click("选择框_间断截图");
    EXPECT_TRUE(visible("编辑框_间时"));
    apply();

    ASSERT_TRUE(waitUntil([this] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_[0].title, kNoteCaption);
    EXPECT_EQ(boxes_[0].text, kEmptyIntervalMessage);
    QTest::qWait(100);
    EXPECT_TRUE(ui::isWindowOpen(S));
    EXPECT_EQ(stored(Option::TimedMode), 1);
    EXPECT_EQ(settings::readText(Option::TimedTimes), "8：30：00");
    EXPECT_EQ(ui::timerInterval(M, "时钟3"), kTimedTickMilliseconds);
    EXPECT_EQ(stored(Option::IntervalMode), kAbsent);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 0);
}

TEST_F(SettingsWindowTest, IntervalSecondsStartTheIntervalTimerWithTheChosenScope) {
    openSettings();
    ui::setCurrentPage(S, "选择夹1", 5);
    click("选择框_间断截图");
    type("编辑框_间时", "5");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::IntervalMode), 1);
    EXPECT_EQ(stored(Option::IntervalSeconds), 5);
    EXPECT_EQ(captureSettings().intervalCaptureMode, ScheduleMode::WholeScreen);
    EXPECT_EQ(captureSettings().intervalSeconds, 5);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 5000);

    openSettings();
    EXPECT_EQ(ui::controlText(S, "编辑框_间时"), "5");
    click("选择框_间断截图_活动窗口");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::IntervalMode), 2);
    EXPECT_EQ(captureSettings().intervalCaptureMode, ScheduleMode::ActiveWindow);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 5000);
}

TEST_F(SettingsWindowTest, StrayMinusInTheSecondsNeverMakesAMillisecondTimer) {
    openSettings();
    click("选择框_间断截图");
    type("编辑框_间时", "5-3");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::IntervalSeconds), 5);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 5000);

    openSettings();
    type("编辑框_间时", "-5");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::IntervalSeconds), -5);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 0);  // on, but never ticking
}

TEST_F(SettingsWindowTest, ClearedIntervalCaptureTicksOnceMoreWithoutCapturingAndStops) {
    openSettings();
    click("选择框_间断截图");
    type("编辑框_间时", "1");
    ASSERT_TRUE(closesAfterApply());
    ASSERT_TRUE(waitUntil([this] { return !test::listFolder(folder_.path()).empty(); }))
        << "interval capture wrote nothing";

    openSettings();
    click("选择框_间断截图");
    ASSERT_TRUE(closesAfterApply());
    const std::size_t files = test::listFolder(folder_.path()).size();
    EXPECT_EQ(captureSettings().intervalCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(stored(Option::IntervalMode), 0);
    EXPECT_EQ(ui::timerInterval(M, "时钟2"), 1000);  // left to stop itself

    EXPECT_TRUE(waitUntil([] { return ui::timerInterval(M, "时钟2") == 0; }));
    QTest::qWait(1500);
    EXPECT_EQ(test::listFolder(folder_.path()).size(), files);
}

TEST_F(SettingsWindowTest, SoundTickedWithoutAChoiceKeepsThePreviousSound) {
    captureSettings().soundChoice = 2;
    platform::writeNumber(settings::kRoot, settings::valuePath(Option::Sound), 2.0);
    openSettings();
    for (std::string_view radio : {"音效1", "音效2", "音效3"})
        ui::setControlSelected(S, radio, false);
    ASSERT_TRUE(selected("选择框_开启音效"));
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(captureSettings().soundChoice, 2);
    EXPECT_EQ(stored(Option::Sound), 2);
}

TEST_F(SettingsWindowTest, SizeOfZeroByZeroIsStoredAsFixedAndReopensAsTheCapturedSize) {
    openSettings();
    click("自定义尺寸");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::FixedSize), 1);
    EXPECT_EQ(stored(Option::Width), 0);
    EXPECT_EQ(stored(Option::Height), 0);

    openSettings();
    EXPECT_TRUE(selected("原尺寸"));
    EXPECT_FALSE(visible("编辑框_自定义长"));
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::FixedSize), 0);
}

TEST_F(SettingsWindowTest, HintOfTheIntervalBoxPointsAtItsOffsetAndGoesAtTheNextClick) {
    openSettings();
    ui::setCurrentPage(S, "选择夹1", 5);
    click("选择框_定时截图");
    click("选择框_间断截图");
    QWidget* box = control("选择框_间断截图");
    ASSERT_NE(box, nullptr);
    hover(box, QPoint(10, 8));
    ASSERT_TRUE(waitUntil([] { return ui::balloonShown(); }, std::chrono::seconds(3)));

    ui::BalloonWidget* balloon = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == "balloonTip")
            balloon = dynamic_cast<ui::BalloonWidget*>(top);
    }
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->tip(), QPoint(ui::windowLeft(S) + 112, ui::windowTop(S) + 155));

    // Moving on does not hide it; moving over another box replaces it with that one's hint.
    hover(box, QPoint(20, 8));
    QTest::qWait(50);
    EXPECT_TRUE(ui::balloonShown());
    hover(control("选择框_定时截图"), QPoint(10, 8));
    ASSERT_TRUE(waitUntil(
        [&] { return balloon->tip() == QPoint(ui::windowLeft(S) + 112, ui::windowTop(S) + 72); }));

    shoot("settings_balloon");
    QTest::mouseClick(control("标签_广告"), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([] { return !ui::balloonShown(); }, std::chrono::seconds(3)));
}

TEST_F(SettingsWindowTest, PngAndTheUnattendedPageAreCheckedStoredAndShownAgain) {
    openSettings();
    EXPECT_TRUE(selected("选择框_锁屏暂停"));  // the default: no captures of a locked screen
    EXPECT_FALSE(selected("选择框_跳过相同"));
    EXPECT_EQ(ui::controlText(S, "编辑框_保留天数"), "0");
    EXPECT_EQ(ui::controlText(S, "编辑框_保留容量"), "0");
    click("png模式");
    EXPECT_FALSE(selected("bmp模式"));
    EXPECT_FALSE(selected("jpg模式"));
    ui::setCurrentPage(S, "选择夹1", 6);
    click("选择框_跳过相同");
    click("选择框_按日分文件夹");
    type("编辑框_保留天数", "30");
    type("编辑框_保留容量", "10240");
    shoot("settings_page6");
    click("选择框_锁屏暂停");

    // Out of range: refused with a message, the earlier pages stored, nothing of this one.
    type("编辑框_保留天数", "3651");
    apply();
    ASSERT_TRUE(waitUntil([this] { return boxes_.size() == 1; }));
    EXPECT_EQ(boxes_[0].text, kKeepDaysMessage);
    type("编辑框_保留天数", "-1");
    apply();
    ASSERT_TRUE(waitUntil([this] { return boxes_.size() == 2; }));
    EXPECT_EQ(boxes_[1].text, kKeepDaysMessage);
    type("编辑框_保留天数", "30");
    type("编辑框_保留容量", "1048577");
    apply();
    ASSERT_TRUE(waitUntil([this] { return boxes_.size() == 3; }));
    EXPECT_EQ(boxes_[2].text, kKeepMegabytesMessage);
    QTest::qWait(100);
    EXPECT_TRUE(ui::isWindowOpen(S));
    EXPECT_EQ(stored(Option::Engine), 2);
    EXPECT_EQ(captureSettings().imageEngine, ImageEngine::Png);
    for (Option option : {Option::SkipUnchanged, Option::KeepDays, Option::KeepMegabytes,
                          Option::DayFolders, Option::PauseWhenLocked}) {
        EXPECT_EQ(stored(option), kAbsent) << settings::row(option).valueName;
    }

    type("编辑框_保留容量", "1048576");
    ASSERT_TRUE(closesAfterApply());
    EXPECT_EQ(stored(Option::SkipUnchanged), 1);
    EXPECT_EQ(stored(Option::KeepDays), 30);
    EXPECT_EQ(stored(Option::KeepMegabytes), 1048576);
    EXPECT_EQ(stored(Option::DayFolders), 1);
    EXPECT_EQ(stored(Option::PauseWhenLocked), 0);
    const CaptureSettings& s = captureSettings();
    EXPECT_TRUE(s.skipUnchanged);
    EXPECT_EQ(s.keepDays, 30);
    EXPECT_EQ(s.keepMegabytes, 1048576);
    EXPECT_TRUE(s.dayFolders);
    EXPECT_FALSE(s.pauseWhenLocked);

    // Read back as the next start reads the store, and shown so.
    captureSettings() = CaptureSettings{};
    app::loadSettingsQuietly();
    openSettings();
    EXPECT_EQ(ui::currentPage(S, "选择夹1"), 6);
    EXPECT_TRUE(selected("png模式"));
    EXPECT_FALSE(selected("bmp模式"));
    EXPECT_TRUE(selected("选择框_跳过相同"));
    EXPECT_TRUE(selected("选择框_按日分文件夹"));
    EXPECT_FALSE(selected("选择框_锁屏暂停"));
    EXPECT_EQ(ui::controlText(S, "编辑框_保留天数"), "30");
    EXPECT_EQ(ui::controlText(S, "编辑框_保留容量"), "1048576");
}

// ---- sound preview ----------------------------------------------------------------------------

class SoundPreviewTest : public SettingsWindowTest {
protected:
    void SetUp() override {
        SettingsWindowTest::SetUp();
        if (IsSkipped())
            return;
        test::writeTextFile(alsa_.path() / "asound.conf",
                            "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                played().string() + "\"\n  format \"raw\"\n}\n");
        env_.emplace("ALSA_CONFIG_PATH", (alsa_.path() / "asound.conf").string());
    }
    void TearDown() override {
        platform::stopAllSounds();
        env_.reset();
        SettingsWindowTest::TearDown();
    }
    std::filesystem::path played() const { return alsa_.path() / "played.raw"; }
    std::uintmax_t playedBytes() const {
        std::error_code ec;
        const auto size = std::filesystem::file_size(played(), ec);
        return ec ? 0 : size;
    }
    static std::size_t clipBytes(const char* name) {
        const auto clip = platform::wav::parse(assets::find(name));
        return clip ? clip->samples.size() : 0;
    }

    test::TempDir alsa_;
    std::optional<test::ScopedEnv> env_;
};

TEST_F(SoundPreviewTest, PlaysTheSelectedClipAndNothingWithoutASelection) {
    openSettings();
    ui::setCurrentPage(S, "选择夹1", 1);
    click("选择框_开启音效");  // default record: sound off; tick it, no radio chosen yet
    ASSERT_TRUE(visible("按钮_音效试听"));
    click("按钮_音效试听");
    QTest::qWait(300);
    EXPECT_EQ(platform::activeSoundCount(), 0u);
    EXPECT_EQ(playedBytes(), 0u);

    click("音效2");
    click("按钮_音效试听");
    const std::size_t expected = clipBytes("shutter2.wav");
    ASSERT_GT(expected, 0u);
    EXPECT_TRUE(waitUntil([&] { return playedBytes() >= expected; }));
    EXPECT_TRUE(waitUntil([] { return platform::activeSoundCount() == 0; }));
    EXPECT_EQ(playedBytes(), expected);
}

}  // namespace
}  // namespace lumora::settingswin
