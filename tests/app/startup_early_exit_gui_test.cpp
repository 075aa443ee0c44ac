// Ending the program before its main loop runs: during the logo splash of start-up, and the
// way the single-instance guard ends it from inside MainWindow's created event.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/capture_settings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/logo_window.h"
#include "ui/runtime.h"
#include "ui/splash.h"
#include "ui/windows.h"

namespace lumora::app {
namespace {

const ui::Binding kTable[] = {
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Created, &onMainWindowCreated},
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Destroying, &onMainWindowDestroying},
    {ui::kLogoWindow, ui::kLogoWindow, ui::Event::Created, &ui::onLogoWindowCreated},
};

TEST(EndProgram, DuringTheSplashStartUpStopsAndTheMainLoopEndsAtOnce) {
    test::ScopedConfigHome config;
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\N", std::int32_t{20}));
    ui::installBindings(kTable);
    // A capture during the splash finds the capture folder already in its label.
    std::string folderDuringSplash;
    ui::setSplashStepObserver([&](platform::WindowHandle, int) {
        if (folderDuringSplash.empty())
            folderDuringSplash = ui::controlText(ui::kMainWindow, "透明标签1");
    });
    // The logo is on by default; the exit comes while it fades.
    QTimer::singleShot(300, [] { endProgram(0); });
    const auto handle = ui::openWindow(ui::kMainWindow);
    ui::setSplashStepObserver({});
    EXPECT_EQ(folderDuringSplash, platform::defaultCaptureFolder());
    EXPECT_TRUE(programEnding());
    EXPECT_FALSE(platform::hasTrayIcon(handle)) << "no icon is put up after the exit";

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runMainLoop(), 0);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(ui::isWindowOpen(ui::kMainWindow));
    EXPECT_FALSE(ui::isWindowOpen(ui::kLogoWindow));
    // The counter had been loaded before the splash: it is kept as usual.
    EXPECT_EQ(platform::readNumber(4, "software\\Velmora\\Krel\\N", -1), 21);
}

}  // namespace
}  // namespace lumora::app
