// The single-instance rule and the start-up and destroy handlers of MainWindow, run through
// the window runtime as the program runs them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <vector>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/capture_settings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {
namespace {

std::vector<platform::ProcessRecord> processes(std::initializer_list<const char*> names) {
    std::vector<platform::ProcessRecord> list;
    std::uint32_t pid = 1;
    for (const char* name : names)
        list.push_back({pid++, name});
    return list;
}

TEST(SingleInstance, CountsExactNamesAndStopsAtTheSecond) {
    EXPECT_FALSE(anotherInstanceRunning(processes({"init", "lumora", "bash"}), "lumora"));
    EXPECT_TRUE(anotherInstanceRunning(processes({"lumora", "bash", "lumora"}), "lumora"));
    // Byte for byte, letter case significant: a renamed copy runs beside the first.
    EXPECT_FALSE(anotherInstanceRunning(processes({"Lumora", "lumora", "lumora2"}), "lumora"));
    EXPECT_FALSE(anotherInstanceRunning(processes({"lumora ", "lumora"}), "lumora"));
    EXPECT_TRUE(anotherInstanceRunning(processes({"截图", "截图"}), "截图"));
    // No snapshot: nothing counted, the program runs.
    EXPECT_FALSE(anotherInstanceRunning({}, "lumora"));
    // Without a name of its own the guard cannot tell; unnamed processes must not stop it.
    EXPECT_FALSE(anotherInstanceRunning(processes({"", "", ""}), ""));
}

TEST(SingleInstance, ThisTestProcessIsAloneUnderItsName) {
    const auto own = platform::programFileName();
    ASSERT_FALSE(own.empty());
    EXPECT_FALSE(anotherInstanceRunning(platform::listProcesses(), own));
}

const ui::Binding kTable[] = {
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Created, &onMainWindowCreated},
    {ui::kMainWindow, ui::kMainWindow, ui::Event::Destroying, &onMainWindowDestroying},
};

std::int32_t shutdownCounter() {
    return platform::readNumber(4, "software\\Velmora\\Krel\\N", -1);
}

TEST(StartUp, SetsTrayIconAndFolderAfterLoadingAndKeepsTheCounterWhenTheWindowCloses) {
    test::ScopedConfigHome config;
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\N", std::int32_t{10}));
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    ASSERT_TRUE(
        platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\dingshijietu", std::int32_t{1}));
    ui::installBindings(kTable);

    const auto handle = ui::openWindow(ui::kMainWindow);
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(programEnding());
    EXPECT_EQ(captureSettings().captureCounter, 11);
    EXPECT_EQ(ui::timerInterval(ui::kMainWindow, "时钟3"), 800);
    EXPECT_TRUE(platform::hasTrayIcon(handle));
    const std::string folder = ui::controlText(ui::kMainWindow, "透明标签1");
    EXPECT_EQ(folder, platform::defaultCaptureFolder());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(shutdownCounter(), -1) << "nothing is written before the end";

    // Three captures later the window is closed (Esc, close box): the program ends and the
    // next number is kept under the second key.
    captureSettings().captureCounter += 3;
    QTimer::singleShot(20, [] { ui::closeWindow(ui::kMainWindow); });
    EXPECT_EQ(runMainLoop(), 0);
    EXPECT_FALSE(ui::isWindowOpen(ui::kMainWindow));
    EXPECT_EQ(shutdownCounter(), 14);
    EXPECT_FALSE(platform::hasTrayIcon(handle)) << "no icon is left behind by a closed window";
}

}  // namespace
}  // namespace lumora::app
