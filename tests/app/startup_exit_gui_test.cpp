// Ending the program from the running loop, as the exit item of the tray menu does.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/startup.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/capture_settings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {
namespace {

const ui::Binding kTable[] = {
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Created, &onMainWindowCreated},
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Destroying, &onMainWindowDestroying},
};

TEST(EndProgram, RemovesTheTrayIconEndsTheLoopWithZeroAndDestroysTheMainWindow) {
    test::ScopedConfigHome config;
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\N", std::int32_t{5}));
    ui::installBindings(kTable);
    const auto handle = ui::openWindow(ui::kMainWindow);
    ASSERT_TRUE(platform::hasTrayIcon(handle));

    bool iconGoneFirst = false;
    QTimer::singleShot(20, [&] {
        // Hidden in the tray, as the program usually is when its menu is used.
        ui::setWindowVisible(ui::kMainWindow, false);
        endProgram(0);
        iconGoneFirst = !platform::hasTrayIcon(handle);
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runMainLoop(), 0);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(iconGoneFirst);
    EXPECT_TRUE(programEnding());
    EXPECT_FALSE(ui::isWindowOpen(ui::kMainWindow));
    EXPECT_EQ(platform::readNumber(4, "software\\Velmora\\Krel\\N", -1), 6);
}

}  // namespace
}  // namespace lumora::app
