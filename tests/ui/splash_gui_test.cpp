// The logo splash: the exact fade, events served during it, and a logo closed half-way.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <vector>

#include "platform/shell.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/logo_window.h"
#include "ui/runtime.h"
#include "ui/splash.h"
#include "ui/windows.h"

namespace lumora::ui {
namespace {

int g_ticks = 0;
int g_logoCreated = 0;

void countTick(const EventArgs&) {
    ++g_ticks;
}
void logoCreated(const EventArgs& args) {
    ++g_logoCreated;
    onLogoWindowCreated(args);
}

const Binding kTable[] = {
    {kMainWindow, "时钟1", Event::Tick, &countTick},
    {kLogoWindow, kLogoWindow, Event::Created, &logoCreated},
};

struct Step {
    platform::WindowHandle window;
    int level;
    int applied;  // the window's opacity after the step, 0..255
};

class Splash : public ::testing::Test {
protected:
    void SetUp() override {
        quitWhenLastWindowDestroyed(false);
        installBindings(kTable);
        g_ticks = 0;
        g_logoCreated = 0;
        setSplashStepObserver([this](platform::WindowHandle window, int level) {
            QWidget* widget = QWidget::find(static_cast<WId>(window));
            const int applied =
                widget != nullptr ? qRound(widget->window()->windowOpacity() * 255) : -1;
            steps.push_back({window, level, applied});
            if (onStep)
                onStep(steps.size());
        });
    }
    void TearDown() override {
        setSplashStepObserver({});
        closeWindow(kMainWindow);
        closeWindow(kLogoWindow);
        test::waitUntil([] { return !isWindowOpen(kMainWindow) && !isWindowOpen(kLogoWindow); });
    }
    std::vector<Step> steps;
    std::function<void(std::size_t)> onStep;
};

TEST_F(Splash, FadesInByThreesAndOutByFivesOnTheLogoWindowThenClosesIt) {
    playLogoSplash();
    EXPECT_EQ(g_logoCreated, 1);

    std::vector<int> expected;
    for (int level = 0; level <= 255; level += 3)
        expected.push_back(level);
    for (int level = 258; level >= 3; level -= 5)
        expected.push_back(level);
    ASSERT_EQ(expected.size(), 86u + 52u);
    std::vector<int> levels, applied;
    for (const Step& s : steps) {
        levels.push_back(s.level);
        applied.push_back(s.applied);
    }
    EXPECT_EQ(levels, expected);
    // 258 is shown as opaque; every other level as asked.
    expected[86] = 255;
    EXPECT_EQ(applied, expected);
    for (const Step& s : steps)
        EXPECT_NE(s.window, 0u);

    // Returns with the close requested; the window goes once events are processed.
    EXPECT_TRUE(test::waitUntil([] { return !isWindowOpen(kLogoWindow); }));
}

TEST_F(Splash, MainWindowTimersKeepTickingWhileTheLogoFades) {
    openWindow(kMainWindow);  // 时钟1 polls every 300 ms
    g_ticks = 0;
    playLogoSplash();
    EXPECT_GE(g_ticks, 2) << "about 1.1 s of pauses lets the 300 ms timer run";
}

TEST_F(Splash, ALogoClosedHalfWayEndsTheFadeQuietly) {
    onStep = [](std::size_t n) {
        if (n == 20)
            closeWindow(kLogoWindow);
    };
    playLogoSplash();
    ASSERT_EQ(steps.size(), 138u);
    EXPECT_NE(steps[19].window, 0u);
    // Handles are taken afresh: once the window is gone, the steps name no window.
    EXPECT_EQ(steps.back().window, 0u);
    EXPECT_EQ(steps.back().applied, -1);
    EXPECT_FALSE(platform::setWindowAlpha(steps.back().window, 100));
}

}  // namespace
}  // namespace lumora::ui
