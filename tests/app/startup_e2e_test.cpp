// The program as a user meets it: one instance only, the logo at start, the tray icon, the
// counters kept at the end, the fade under a compositor, and installation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace lumora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kMainTitle[] = "Lumora截图精灵v1.10";

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// A private copy of the program under a name of its own, so neither the single-instance rule
// nor the captures meet another test's program. Its folder is the capture folder.
class ProgramCopy {
public:
    ProgramCopy() {
        static std::atomic<int> serial{0};
        name_ = "lumora_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
        path_ = dir_.path() / name_;
        fs::copy_file(LUMORA_EXECUTABLE, path_);
    }
    const std::string& name() const { return name_; }
    const fs::path& folder() const { return dir_.path(); }

    std::unique_ptr<QProcess> start() const {
        auto process = std::make_unique<QProcess>();
        process->setProgram(QString::fromStdString(path_.string()));
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start();
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Complete captures: a capture is written under a hidden name until it is whole.
    std::vector<std::string> captures() const {
        std::vector<std::string> files;
        for (const std::string& f : listFolder(dir_.path())) {
            if (f != name_ && !f.starts_with("."))
                files.push_back(f);
        }
        return files;
    }

private:
    TempDir dir_;
    std::string name_;
    fs::path path_;
};

// Visible windows of a process, optionally with exactly this title.
std::vector<std::string> windowsOf(qint64 pid, const std::string& title = {}) {
    std::string out;
    std::string command = "xdotool search --onlyvisible --pid " + std::to_string(pid);
    if (!title.empty())
        command += " --name '^" + title + "$'";
    runCommand(command + " 2>/dev/null", &out);
    std::vector<std::string> ids;
    std::istringstream lines(out);
    for (std::string id; std::getline(lines, id);) {
        if (!id.empty())
            ids.push_back(id);
    }
    return ids;
}

bool hasLogoWindow(qint64 pid) {
    for (const std::string& id : windowsOf(pid)) {
        std::string geometry;
        runCommand("xdotool getwindowgeometry " + id + " 2>/dev/null", &geometry);
        if (geometry.find("Geometry: 694x163") != std::string::npos)
            return true;
    }
    return false;
}

std::string mainWindow(qint64 pid) {
    std::string id;
    waitUntil([&] {
        const auto ids = windowsOf(pid, kMainTitle);
        id = ids.empty() ? "" : ids.front();
        return !id.empty();
    });
    return id;
}

// The tray host (trayer) has docked a window of the program named after its file.
bool dockedInTray(const std::string& programName) {
    std::string tree;
    runCommand("xwininfo -root -tree 2>/dev/null", &tree);
    const auto panel = tree.find("(\"panel\" \"trayer\")");
    if (panel == std::string::npos)
        return false;
    const std::string docked = "\"" + programName + "\": (\"" + programName;
    const auto at = tree.find(docked, panel);
    return at != std::string::npos && at - panel < 600;
}

void pressOn(const std::string& window, const std::string& key) {
    runCommand("xdotool windowactivate --sync " + window + " 2>/dev/null; xdotool key " + key);
}

// Closes the program's main window with Esc and returns the exit code.
int closeWithEscape(QProcess& process) {
    const std::string id = mainWindow(process.processId());
    EXPECT_FALSE(id.empty());
    pressOn(id, "Escape");
    EXPECT_TRUE(process.waitForFinished(20000));
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::int32_t settingsN() {
    return platform::readNumber(4, "software\\Velmora\\Krel-V1.10\\N", -1);
}
std::int32_t shutdownN() {
    return platform::readNumber(4, "software\\Velmora\\Krel\\N", -1);
}

class Program : public ::testing::Test {
protected:
    void SetUp() override { LUMORA_REQUIRE_X(); }
    ScopedConfigHome config;
    ProgramCopy program;
};

TEST_F(Program, ASecondInstanceSaysSoAndEndsWithZeroWhileTheFirstRunsOn) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel\\N", std::int32_t{77}));
    auto first = program.start();
    ASSERT_FALSE(mainWindow(first->processId()).empty());

    auto second = program.start();
    std::vector<std::string> box;
    ASSERT_TRUE(
        waitUntil([&] { return !(box = windowsOf(second->processId(), "您好！")).empty(); }));
    std::string title;
    runCommand("xdotool getwindowname " + box.front(), &title);
    EXPECT_EQ(trimmed(title), "您好！");

    // A capture key pressed while the box waits is the running instance's alone: the second
    // one, with nothing loaded, must neither write a file nor touch the stored number.
    waitUntil([] { return false; }, 500ms);
    runCommand("xdotool key Print");
    ASSERT_TRUE(waitUntil([&] { return !program.captures().empty(); }));
    waitUntil([] { return false; }, 1s);  // a few polling periods of both instances
    EXPECT_EQ(program.captures().size(), 1u);
    EXPECT_EQ(settingsN(), 1);

    pressOn(box.front(), "Return");
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    // The second instance never loaded the counter and so kept its hands off it.
    EXPECT_EQ(shutdownN(), 77);

    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_FALSE(windowsOf(first->processId(), kMainTitle).empty());
    EXPECT_EQ(closeWithEscape(*first), 0);
    EXPECT_EQ(shutdownN(), 2);
}

TEST_F(Program, ACopyUnderAnotherNameOnTheSameStoreSaysSoToo) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    auto first = program.start();
    ASSERT_FALSE(mainWindow(first->processId()).empty());

    ProgramCopy renamed;
    auto second = renamed.start();
    std::vector<std::string> box;
    ASSERT_TRUE(
        waitUntil([&] { return !(box = windowsOf(second->processId(), "您好！")).empty(); }));
    pressOn(box.front(), "Return");
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);

    // Another store is another user's setting: its own instance runs.
    ScopedConfigHome otherStore;
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    auto third = renamed.start();
    EXPECT_FALSE(mainWindow(third->processId()).empty());
    third->kill();
    third->waitForFinished(20000);
    EXPECT_EQ(closeWithEscape(*first), 0);
}

TEST_F(Program, TheLogoShowsByDefaultAndACaptureDuringItLandsInTheCaptureFolder) {
    auto process = program.start();
    ASSERT_TRUE(waitUntil([&] { return hasLogoWindow(process->processId()); }));
    // Keys are watched from the first tick of the 300 ms key timer on; the fade lasts longer.
    waitUntil([] { return false; }, 400ms);
    ASSERT_TRUE(hasLogoWindow(process->processId()));
    runCommand("xdotool key Print");
    ASSERT_TRUE(waitUntil([&] { return !program.captures().empty(); }));
    const std::string file = program.captures().front();
    EXPECT_TRUE(file.ends_with("_0001.bmp")) << file;
    EXPECT_EQ(file.rfind("透明标签", 0), std::string::npos) << file;
    EXPECT_TRUE(waitUntil([&] { return !hasLogoWindow(process->processId()); }));
    EXPECT_EQ(closeWithEscape(*process), 0);
    EXPECT_EQ(settingsN(), 1);
}

TEST_F(Program, WithTheLogoOffNoLogoWindowAppears) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    auto process = program.start();
    ASSERT_FALSE(mainWindow(process->processId()).empty());
    bool seen = false;
    waitUntil([&] { return (seen = hasLogoWindow(process->processId())); }, 1500ms);
    EXPECT_FALSE(seen);
    EXPECT_EQ(closeWithEscape(*process), 0);
}

TEST_F(Program, TheTrayIconIsDockedWhileItRunsAndGoneAfter) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    auto process = program.start();
    EXPECT_TRUE(waitUntil([&] { return dockedInTray(program.name()); }));
    EXPECT_EQ(closeWithEscape(*process), 0);
    EXPECT_TRUE(waitUntil([&] { return !dockedInTray(program.name()); }));
}

TEST_F(Program, ThreeCapturesFromTenLeaveThirteenAndFourteen) {
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\logo", std::int32_t{0}));
    ASSERT_TRUE(platform::writeNumber(4, "software\\Velmora\\Krel-V1.10\\N", std::int32_t{10}));
    auto process = program.start();
    ASSERT_FALSE(mainWindow(process->processId()).empty());
    waitUntil([] { return false; }, 1s);  // the key timer has begun watching
    for (int i = 1; i <= 3; ++i) {
        runCommand("xdotool key Print");
        ASSERT_TRUE(waitUntil([&] { return program.captures().size() == std::size_t(i); }))
            << "after press " << i << ": " << ::testing::PrintToString(program.captures());
        waitUntil([] { return false; }, 400ms);  // more than one polling period apart
    }
    EXPECT_EQ(closeWithEscape(*process), 0);
    EXPECT_EQ(settingsN(), 13);
    EXPECT_EQ(shutdownN(), 14);
}

// The colour of one screen pixel from `import ... txt:-` output: "0,0: (r,g,b) ...".
bool parsePixel(const std::string& line, int rgb[3]) {
    const auto open = line.find('(');
    return open != std::string::npos &&
           std::sscanf(line.c_str() + open, "(%d,%d,%d", &rgb[0], &rgb[1], &rgb[2]) == 3;
}

TEST_F(Program, UnderACompositorTheLogoIsBlendedWithWhatLiesBehindIt) {
    // A screen of its own with picom; the pixel sampled lies on the logo, left of the main
    // window, so only the desktop is behind it.
    const std::string script = std::string("source ") + LUMORA_SOURCE_DIR +
                               "/scripts/lib/xsession.sh; xsession_start 1024x768x24;"
                               " picom --config /dev/null --backend xrender"
                               " --no-fading-openclose >/dev/null 2>&1 & PC=$!; sleep 0.7;"
                               " '" +
                               (program.folder() / program.name()).string() +
                               "' >/dev/null 2>&1 & P=$!;"
                               " for i in $(seq 1 45); do import -window root -crop 1x1+225+332"
                               " -depth 8 txt:- 2>/dev/null | tail -1; done;"
                               " kill $P; wait $P; kill $PC; wait $PC 2>/dev/null; xsession_stop";
    TempDir scratch;
    writeTextFile(scratch.path() / "fade.sh", script);
    std::string out;
    runCommand("bash '" + (scratch.path() / "fade.sh").string() + "'", &out);

    std::vector<std::array<int, 3>> samples;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        int rgb[3];
        if (parsePixel(line, rgb))
            samples.push_back({rgb[0], rgb[1], rgb[2]});
    }
    ASSERT_GE(samples.size(), 20u);
    const auto background = samples.front();
    auto distance = [&](const std::array<int, 3>& p) {
        return std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) +
               std::abs(p[2] - background[2]);
    };
    int opaque = 0;
    for (const auto& p : samples)
        opaque = std::max(opaque, distance(p));
    ASSERT_GT(opaque, 40) << "the logo never showed";
    const bool blended = std::any_of(samples.begin(), samples.end(), [&](const auto& p) {
        return distance(p) > opaque / 5 && distance(p) < opaque * 4 / 5;
    });
    EXPECT_TRUE(blended) << "no sample between the desktop and the opaque logo";
}

TEST(Install, PutsTheProgramItsDesktopEntryAndItsIconsUnderThePrefix) {
    TempDir prefix;
    // The entry an earlier version installed under its old name goes; another program's stays.
    fs::create_directories(prefix.path() / "share/applications");
    writeTextFile(prefix.path() / "share/applications/lumora.desktop",
                  "[Desktop Entry]\nExec=" + (prefix.path() / "bin/lumora").string() +
                      "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n");
    writeTextFile(prefix.path() / "share/applications/other.desktop", "Exec=lumora\n");
    std::string log;
    ASSERT_EQ(runCommand(std::string("cmake --install '") + LUMORA_BINARY_DIR + "' --prefix '" +
                             prefix.path().string() + "' 2>&1",
                         &log),
              0)
        << log;
    const fs::path root = prefix.path();
    EXPECT_TRUE(fs::exists(root / "bin/lumora"));
    EXPECT_TRUE((fs::status(root / "bin/lumora").permissions() & fs::perms::owner_exec) !=
                fs::perms::none);
    const std::string entry = readTextFile(root / "share/applications/io.lumora.Lumora.desktop");
    EXPECT_FALSE(fs::exists(root / "share/applications/lumora.desktop"));
    EXPECT_TRUE(fs::exists(root / "share/applications/other.desktop"));
    // The program by its full path, as KDE's KWin requires to let it capture windows.
    const std::string exec = "Exec=" + (root / "bin/lumora").string();
    for (const std::string& line :
         {std::string("[Desktop Entry]"), std::string("Type=Application"),
          std::string("Name=Lumora"), std::string("Name[zh_CN]=Lumora截图精灵"), exec,
          exec + " --capture window", std::string("Icon=lumora"),
          std::string("Categories=Graphics;Utility;")}) {
        EXPECT_NE(entry.find(line + "\n"), std::string::npos) << line;
    }
    for (int size : {16, 32, 48, 64, 128}) {
        const std::string n = std::to_string(size);
        EXPECT_TRUE(fs::exists(root / ("share/icons/hicolor/" + n + "x" + n + "/apps/lumora.png")))
            << n;
    }
}

}  // namespace
}  // namespace lumora::test
