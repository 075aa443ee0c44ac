// Loading the options at start-up: defaults, decoding, the schedule timers of MainWindow and
// which values are in force while the splash plays.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/load_settings.h"
#include "platform/registry.h"
#include "settings/capture_settings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/logo_window.h"
#include "ui/runtime.h"
#include "ui/splash.h"
#include "ui/windows.h"

namespace lumora::app {
namespace {

int g_logoOpened = 0;
void logoCreated(const ui::EventArgs& args) {
    ++g_logoOpened;
    ui::onLogoWindowCreated(args);
}

const ui::Binding kTable[] = {
    {ui::kLogoWindow, ui::kLogoWindow, ui::Event::Created, &logoCreated},
};

void storeNumber(const std::string& name, std::int32_t value) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\" + name, value));
}
void storeText(const std::string& name, const std::string& value) {
    ASSERT_TRUE(platform::writeText(4, "software\\Velmora\\Krel-V1.10\\" + name, value));
}

int timer(const char* name) {
    return ui::timerInterval(ui::kMainWindow, name);
}

class LoadSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ui::quitWhenLastWindowDestroyed(false);
        ui::installBindings(kTable);
        ui::openWindow(ui::kMainWindow);
        g_logoOpened = 0;
    }
    void TearDown() override {
        ui::setSplashStepObserver({});
        ui::closeWindow(ui::kMainWindow);
        test::waitUntil([] {
            return !ui::isWindowOpen(ui::kMainWindow) && !ui::isWindowOpen(ui::kLogoWindow);
        });
    }
    test::ScopedConfigHome config;
};

TEST_F(LoadSettings, WithoutTheSettingsKeyEveryFieldTakesItsDefaultAndTheSplashPlays) {
    captureSettings().customPrefix = "left over";
    captureSettings().intervalSeconds = 9;
    loadSettings();
    const CaptureSettings& s = captureSettings();
    EXPECT_EQ(s.captureCounter, 1);
    EXPECT_EQ(s.soundChoice, 1);
    EXPECT_TRUE(s.showLogo);
    EXPECT_EQ(s.imageEngine, ImageEngine::Bmp);
    EXPECT_EQ(s.outputWidth, 0);
    EXPECT_EQ(s.outputHeight, 0);
    EXPECT_EQ(s.namingRule, NamingRule::CurrentTime);
    EXPECT_EQ(s.customPrefix, "");
    EXPECT_EQ(s.settingsTab, 0);
    EXPECT_EQ(s.timedCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(s.timedCaptureTimes, "");
    EXPECT_EQ(s.intervalCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(s.intervalSeconds, 0);
    EXPECT_EQ(g_logoOpened, 1);
    EXPECT_EQ(timer("时钟1"), 300);
    EXPECT_EQ(timer("时钟2"), 0);
    EXPECT_EQ(timer("时钟3"), 0);
}

TEST_F(LoadSettings, StoredValuesAreDecodedAndTheSchedulesStartTheirTimers) {
    storeNumber("N", 41);
    storeNumber("yinxiao", 7);
    storeNumber("logo", 0);
    storeNumber("yinqing", 1);
    storeNumber("chicun", 1);
    storeNumber("chang", 800);
    storeNumber("gao", 600);
    storeNumber("mingming", 2);
    storeNumber("xuanzhejia_xuanzhongxiang", 3);
    storeNumber("dingshijietu", 1);
    storeText("定时时间", "08:00:00,12:30:00");
    storeNumber("jianduanjietu", 2);
    storeNumber("间断时间", 30);
    loadSettings();
    const CaptureSettings& s = captureSettings();
    EXPECT_EQ(s.captureCounter, 42);
    EXPECT_EQ(s.soundChoice, 0);
    EXPECT_FALSE(s.showLogo);
    EXPECT_EQ(g_logoOpened, 0) << "logo = 0 shows no logo window";
    EXPECT_EQ(s.imageEngine, ImageEngine::Jpg);
    EXPECT_EQ(s.outputWidth, 800);
    EXPECT_EQ(s.outputHeight, 600);
    EXPECT_EQ(s.namingRule, NamingRule::CustomPrefix);
    EXPECT_EQ(s.customPrefix, "未定义");
    EXPECT_EQ(s.settingsTab, 3);
    EXPECT_EQ(s.timedCaptureMode, ScheduleMode::WholeScreen);
    EXPECT_EQ(s.timedCaptureTimes, "08:00:00,12:30:00");
    EXPECT_EQ(s.intervalCaptureMode, ScheduleMode::ActiveWindow);
    EXPECT_EQ(s.intervalSeconds, 30);
    EXPECT_EQ(timer("时钟3"), 800);
    EXPECT_EQ(timer("时钟2"), 30000);
}

TEST_F(LoadSettings, IntervalModeWithoutSecondsLeavesItsTimerStopped) {
    storeNumber("logo", 0);
    storeNumber("jianduanjietu", 1);
    storeNumber("dingshijietu", 5);  // out of range: Off
    storeNumber("chicun", 0);
    storeNumber("chang", 800);  // ignored without the fixed-size switch
    loadSettings();
    EXPECT_EQ(captureSettings().intervalCaptureMode, ScheduleMode::WholeScreen);
    EXPECT_EQ(captureSettings().timedCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(captureSettings().outputWidth, 0);
    EXPECT_EQ(timer("时钟2"), 0);
    EXPECT_EQ(timer("时钟3"), 0);
}

TEST_F(LoadSettings, SecondsTooLargeForATimerGiveTheLongestIntervalNotAnOverflow) {
    storeNumber("logo", 0);
    storeNumber("jianduanjietu", 1);
    storeNumber("间断时间", 3000000);  // 3e9 ms does not fit an int
    loadSettings();
    EXPECT_EQ(captureSettings().intervalSeconds, 3000000);
    EXPECT_EQ(timer("时钟2"), INT_MAX);
}

TEST_F(LoadSettings, DuringTheSplashOnlyTheValuesBeforeItAreInForce) {
    storeNumber("N", 9);
    storeNumber("yinqing", 1);
    storeNumber("mingming", 0);
    storeNumber("xuanzhejia_xuanzhongxiang", 2);
    storeNumber("dingshijietu", 2);
    storeText("定时时间", "10:00:00");
    storeNumber("jianduanjietu", 1);
    storeNumber("间断时间", 5);
    CaptureSettings during;
    int timed = -1, interval = -1;
    bool seen = false;
    ui::setSplashStepObserver([&](platform::WindowHandle, int) {
        if (seen)
            return;
        seen = true;
        during = captureSettings();
        timed = timer("时钟3");
        interval = timer("时钟2");
    });
    loadSettings();
    ASSERT_TRUE(seen);
    EXPECT_EQ(during.captureCounter, 10);
    EXPECT_EQ(during.imageEngine, ImageEngine::Jpg);
    EXPECT_EQ(during.namingRule, NamingRule::FixedPrefix);
    EXPECT_EQ(during.settingsTab, 0);
    EXPECT_EQ(during.timedCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(during.timedCaptureTimes, "");
    EXPECT_EQ(during.intervalCaptureMode, ScheduleMode::Off);
    EXPECT_EQ(timed, 0);
    EXPECT_EQ(interval, 0);
    // And afterwards all of them.
    EXPECT_EQ(captureSettings().settingsTab, 2);
    EXPECT_EQ(timer("时钟3"), 800);
    EXPECT_EQ(timer("时钟2"), 5000);
}

TEST_F(LoadSettings, ACaptureDuringTheSplashAdvancesTheCounterThatLoadingKeeps) {
    storeNumber("N", 4);
    bool once = false;
    ui::setSplashStepObserver([&](platform::WindowHandle, int) {
        if (once)
            return;
        once = true;
        captureSettings().captureCounter += 1;  // what a capture does
    });
    loadSettings();
    EXPECT_EQ(captureSettings().captureCounter, 6);
}

}  // namespace
}  // namespace lumora::app
