// One walk through the running program as a person makes it, with the mouse and the keys only:
// the settings from the tray menu (JPG and a custom prefix), a capture with PrintScreen, the
// main window sent to the tray and a second capture, the window back by a double click on the
// tray icon, and 退出 from the tray menu. The program runs as a copy of its own in a fresh
// folder, which is therefore its capture folder. With LUMORA_SHOT_DIR set, the settings pages
// and the tray menu are also saved as screenshots for a person to look at.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;

namespace {

// Under its own name, so copies of the program that other people run on this machine do not
// trip its single-instance guard.
constexpr char kProgramName[] = "lumora-walk";
constexpr char kMainTitle[] = "Lumora截图精灵v1.10";

std::string run(const std::string& command) {
    std::string out;
    runCommand(command + " 2>/dev/null", &out);
    return out;
}

void xdo(const std::string& arguments) {
    runCommand("xdotool " + arguments);
}

struct Point {
    int x = 0;
    int y = 0;
};

// The ids of the visible windows whose name is exactly `title`.
std::vector<std::string> visibleWindows(const std::string& title) {
    std::istringstream in(run("xdotool search --onlyvisible --name '^" + title + "$'"));
    std::vector<std::string> ids;
    for (std::string id; in >> id;)
        ids.push_back(id);
    return ids;
}

// Absolute position of a window's top-left corner (for a client window: inside the frame).
std::optional<Point> windowOrigin(const std::string& id) {
    const std::string info = run("xwininfo -id " + id);
    auto field = [&](const std::string& label) -> std::optional<int> {
        const auto at = info.find(label);
        if (at == std::string::npos)
            return std::nullopt;
        return std::atoi(info.c_str() + at + label.size());
    };
    const auto x = field("Absolute upper-left X:");
    const auto y = field("Absolute upper-left Y:");
    if (!x || !y)
        return std::nullopt;
    return Point{*x, *y};
}

// The centre of the program's icon in the tray host: the window of the program embedded in
// trayer's panel, as `xwininfo -root -tree` lists it ("... 22x22+0+0  +1897+1").
std::optional<Point> trayIconCentre() {
    std::istringstream in(run("xwininfo -root -tree"));
    bool inPanel = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find("(\"panel\" \"trayer\")") != std::string::npos) {
            inPanel = true;
            continue;
        }
        if (!inPanel || line.find(std::string("\"") + kProgramName + "\"") == std::string::npos) {
            continue;
        }
        int w = 0, h = 0, rx = 0, ry = 0, ax = 0, ay = 0;
        const auto size = line.rfind(')');
        if (size == std::string::npos || std::sscanf(line.c_str() + size + 1, " %dx%d+%d+%d +%d+%d",
                                                     &w, &h, &rx, &ry, &ax, &ay) != 6) {
            continue;
        }
        return Point{ax + w / 2, ay + h / 2};
    }
    return std::nullopt;
}

// Whether the start-up logo (694 x 163, no frame) is still on the screen.
bool logoShown() {
    std::istringstream in(
        run(std::string("xdotool search --onlyvisible --classname ") + kProgramName));
    for (std::string id; in >> id;) {
        const std::string info = run("xwininfo -id " + id);
        if (info.find("Width: 694") != std::string::npos &&
            info.find("Height: 163") != std::string::npos) {
            return true;
        }
    }
    return false;
}

void shoot(const std::string& name) {
    const char* dir = std::getenv("LUMORA_SHOT_DIR");
    if (dir == nullptr)
        return;
    waitUntil([] { return false; }, 300ms);
    runCommand("import -window root '" + std::string(dir) + "/" + name + ".png'");
}

std::vector<std::string> jpgFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const std::string& name : listFolder(folder)) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".jpg")
            names.push_back(name);
    }
    return names;
}

class UserWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        ASSERT_EQ(runCommand("command -v xdotool >/dev/null"), 0) << "xdotool is needed";
        program_ = dir_.path() / kProgramName;
        fs::copy_file(LUMORA_EXECUTABLE, program_);
        fs::permissions(program_, fs::perms::owner_all);
    }

    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    void start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config_.path().string()));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start(QString::fromStdString(program_.string()), {});
        ASSERT_TRUE(process_.waitForStarted(5000));
    }

    // Right click on the tray icon, then the menu's item number `index` (from 1) by keyboard.
    void chooseFromTrayMenu(int index, const std::string& shot = {}) {
        const auto icon = trayIconCentre();
        ASSERT_TRUE(icon) << "no tray icon";
        xdo("mousemove " + std::to_string(icon->x) + " " + std::to_string(icon->y) + " click 3");
        waitUntil([] { return false; }, 700ms);  // the menu maps and takes the keyboard
        if (!shot.empty())
            shoot(shot);
        std::string keys;
        for (int i = 0; i < index; ++i)
            keys += " Down";
        xdo("key --delay 60" + keys + " Return");
    }

    // A left click at a point of a window's client area.
    void clickIn(const std::string& window, int x, int y, int button = 1) {
        const auto origin = windowOrigin(window);
        ASSERT_TRUE(origin) << "window " << window << " gone";
        xdo("mousemove " + std::to_string(origin->x + x) + " " + std::to_string(origin->y + y) +
            " click " + std::to_string(button));
        waitUntil([] { return false; }, 150ms);
    }

    ScopedConfigHome config_;
    TempDir dir_;
    fs::path program_;
    QProcess process_;
};

TEST_F(UserWalkTest, SettingsFromTheTrayThenCapturesWithTheWindowShownAndHidden) {
    start();
    ASSERT_TRUE(waitUntil([] { return visibleWindows(kMainTitle).size() == 1; }, 20s))
        << "no main window";
    ASSERT_TRUE(waitUntil([] { return trayIconCentre().has_value(); }, 10s)) << "no tray icon";
    ASSERT_TRUE(waitUntil([] { return !logoShown(); }, 10s)) << "the logo stays";
    const std::string mainWindow = visibleWindows(kMainTitle).front();

    // 设置 is the third item of the tray menu.
    chooseFromTrayMenu(3, "tray_menu");
    ASSERT_TRUE(waitUntil([] { return visibleWindows("设置").size() == 1; }, 10s))
        << "no settings window";
    const std::string settings = visibleWindows("设置").front();
    shoot("settings_page0");

    // Page 0: JPG mode (rectangle 32, 128, 280, 40 of the tab control at 0, 0).
    clickIn(settings, 32 + 12, 128 + 20);
    // Through the pages by the keyboard on the tab bar (its first tab lies at its left end),
    // looking at each; page 4 holds the naming rule.
    clickIn(settings, 20, 10);
    for (int page = 1; page <= 5; ++page) {
        xdo("key Right");
        shoot("settings_page" + std::to_string(page));
    }
    xdo("key Left");
    clickIn(settings, 32 + 10, 104 + 12);   // 单选框_自定义命名
    clickIn(settings, 32 + 100, 160 + 16);  // 编辑框_自定义名
    xdo("type --delay 40 shot");
    shoot("settings_page4_custom");
    xdo("key Return");  // 立即生效 is the default button, also from an edit box
    ASSERT_TRUE(waitUntil([] { return visibleWindows("设置").empty(); }, 10s))
        << "apply did not close the settings window";

    const std::string stored = readTextFile(config_.registryFile("HKEY_LOCAL_MACHINE"));
    EXPECT_NE(stored.find("\"yinqing\"=dword:00000001"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"mingming\"=dword:00000002"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"zidingyimingming\"=\"shot\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"xuanzhejia_xuanzhongxiang\"=dword:00000004"), std::string::npos);

    xdo("key Print");
    ASSERT_TRUE(waitUntil([&] { return jpgFiles(dir_.path()).size() == 1; }, 10s))
        << "PrintScreen wrote no JPG";
    EXPECT_EQ(jpgFiles(dir_.path()).front(), "shot_0001.jpg");

    // 后台运行: the picture button at 375, 240 (96 x 32) of the client area below the menu bar.
    constexpr int kMenuBarGuess = 22;
    clickIn(mainWindow, 375 + 48, kMenuBarGuess + 240 + 16);
    ASSERT_TRUE(waitUntil([] { return visibleWindows(kMainTitle).empty(); }, 5s))
        << "the main window did not hide";
    EXPECT_EQ(process_.state(), QProcess::Running);

    xdo("key Print");
    ASSERT_TRUE(waitUntil([&] { return jpgFiles(dir_.path()).size() == 2; }, 10s))
        << "no capture while in the tray";
    EXPECT_EQ(jpgFiles(dir_.path()).back(), "shot_0002.jpg");
    for (const std::string& name : jpgFiles(dir_.path())) {
        QImage image;
        ASSERT_TRUE(waitUntil([&] {
            return image.load(QString::fromStdString((dir_.path() / name).string()));
        })) << name;
        EXPECT_GT(image.width(), 0) << name;
    }
    const std::vector<std::string> all = listFolder(dir_.path());
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& n) { return n.front() == '.'; }),
              0)
        << "a temporary file was left behind";

    // Back by a click on the tray icon.
    const auto icon = trayIconCentre();
    ASSERT_TRUE(icon);
    xdo("mousemove " + std::to_string(icon->x) + " " + std::to_string(icon->y) + " click 1");
    ASSERT_TRUE(waitUntil([] { return visibleWindows(kMainTitle).size() == 1; }, 5s))
        << "a click did not bring the window back";

    // Hidden again, then the program started a second time: the running one shows its window
    // and the second one says so in its box and ends with 0.
    clickIn(mainWindow, 375 + 48, kMenuBarGuess + 240 + 16);
    ASSERT_TRUE(waitUntil([] { return visibleWindows(kMainTitle).empty(); }, 5s));
    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.setProcessEnvironment(process_.processEnvironment());
    second.start(QString::fromStdString(program_.string()), {});
    ASSERT_TRUE(second.waitForStarted(5000));
    EXPECT_TRUE(waitUntil([] { return visibleWindows(kMainTitle).size() == 1; }, 10s))
        << "a second start did not bring the window back";
    ASSERT_TRUE(waitUntil([] { return visibleWindows("您好！").size() == 1; }, 10s));
    xdo("windowactivate --sync " + visibleWindows("您好！").front() + " key Return");
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(process_.state(), QProcess::Running);

    // 退出, the fourth item: the icon goes and the program ends with 0.
    chooseFromTrayMenu(4);
    ASSERT_TRUE(process_.waitForFinished(10000)) << "退出 did not end the program";
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    EXPECT_FALSE(trayIconCentre().has_value());
}

}  // namespace
