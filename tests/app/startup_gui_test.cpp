// The single-instance rule and the start-up and destroy handlers of MainWindow, run through
// the window runtime as the program runs them.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "settings/capture_settings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {
namespace {

namespace fs = std::filesystem;

const std::uint32_t kMe = platform::currentUserId();

std::vector<platform::ProcessRecord> processes(std::initializer_list<const char*> names) {
    std::vector<platform::ProcessRecord> list;
    std::uint32_t pid = 1;
    for (const char* name : names) {
        list.push_back({pid++, name});
        list.back().userId = kMe;
    }
    return list;
}

TEST(SingleInstance, CountsExactNamesAndStopsAtTheSecond) {
    EXPECT_FALSE(anotherInstanceRunning(processes({"init", "lumora", "bash"}), "lumora", kMe));
    EXPECT_TRUE(anotherInstanceRunning(processes({"lumora", "bash", "lumora"}), "lumora", kMe));
    // Byte for byte, letter case significant: a renamed copy is not counted here (the store's
    // lock keeps it out).
    EXPECT_FALSE(anotherInstanceRunning(processes({"Lumora", "lumora", "lumora2"}), "lumora", kMe));
    EXPECT_FALSE(anotherInstanceRunning(processes({"lumora ", "lumora"}), "lumora", kMe));
    EXPECT_TRUE(anotherInstanceRunning(processes({"截图", "截图"}), "截图", kMe));
    // A one-off command of the same name captures once and ends: it is no running program.
    const auto secondIsCommand = [](std::uint32_t pid) { return pid == 3; };
    EXPECT_FALSE(anotherInstanceRunning(processes({"lumora", "bash", "lumora"}), "lumora", kMe,
                                        secondIsCommand));
    // No snapshot: nothing counted, the program runs.
    EXPECT_FALSE(anotherInstanceRunning({}, "lumora", kMe));
    // Without a name of its own the guard cannot tell; unnamed processes must not stop it.
    EXPECT_FALSE(anotherInstanceRunning(processes({"", "", ""}), "", kMe));
}

// Processes under a name of the test's own: a zombie, another user's and a live one of this
// user are one instance; a second live one of this user makes two.
TEST(SingleInstance, CountsOnlyLiveProcessesOfTheSameUser) {
    test::TempDir dir;
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const std::string name = "lumora-si" + std::to_string(getpid() % 10000);
    const fs::path copy = dir.path() / name;
    fs::copy_file("/bin/sleep", copy);
    const auto spawn = [&](std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    };
    const auto count = [&] {
        int n = 0;
        for (const auto& p : platform::listProcesses())
            n += p.executableName == name;
        return n;
    };
    const pid_t zombie = spawn({copy.string(), "0"});
    ASSERT_TRUE(test::waitUntil([&] {
        for (const auto& p : platform::listProcesses())
            if (p.processId == std::uint32_t(zombie))
                return p.zombie;
        return false;
    }));
    const pid_t other = spawn({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                               "--clear-groups", copy.string(), "30"});
    const pid_t mine = spawn({copy.string(), "30"});
    ASSERT_TRUE(test::waitUntil([&] { return count() == 3; }));
    EXPECT_FALSE(anotherInstanceRunning(platform::listProcesses(), name, kMe));
    const pid_t second = spawn({copy.string(), "30"});
    ASSERT_TRUE(test::waitUntil([&] { return count() == 4; }));
    EXPECT_TRUE(anotherInstanceRunning(platform::listProcesses(), name, kMe));
    for (pid_t pid : {zombie, other, mine, second}) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

TEST(SingleInstance, ThisTestProcessIsAloneUnderItsName) {
    const auto own = platform::programFileName();
    ASSERT_FALSE(own.empty());
    EXPECT_FALSE(anotherInstanceRunning(platform::listProcesses(), own, kMe));
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
    const auto trays = qApp->findChildren<QSystemTrayIcon*>(platform::testing::kTrayIconName);
    ASSERT_EQ(trays.size(), 1);
    EXPECT_EQ(trays[0]->toolTip(), QStringLiteral("Lumora截图精灵"));  // the program's name
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
