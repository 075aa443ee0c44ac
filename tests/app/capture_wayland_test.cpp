// The running program in a Wayland session (sway with XWayland and the desktop portals, started
// by scripts/lib/wayland-test.sh): its pictures must be what the compositor shows, as grim
// reads it, and a desktop without a screenshot portal must give reported failures, not files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

constexpr char kLibrary[] = "lumora-program.so";

std::string programPath() {
    const char* staged = std::getenv("LUMORA_EXECUTABLE");
    return staged && *staged ? staged : LUMORA_EXECUTABLE;
}

// The frames (border and title bar) of the windows of process `pid` in sway's layout tree.
std::vector<QRect> windowFrames(qint64 pid) {
    std::string out;
    if (runCommand("swaymsg -t get_tree", &out) != 0)
        return {};
    std::vector<QRect> frames;
    auto rect = [](const QJsonValue& v) {
        const QJsonObject r = v.toObject();
        return QRect(r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt());
    };
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node["pid"].toInteger() == pid)
            frames.push_back(
                rect(node["rect"]).adjusted(0, -rect(node["deco_rect"]).height(), 0, 0));
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node[key].toArray())
                walk(child.toObject());
    };
    walk(QJsonDocument::fromJson(QByteArray::fromStdString(out)).object());
    return frames;
}

// The output's strips that its workspace leaves to the bar, where the program's tray icon comes
// and goes.
std::vector<QRect> barAreas() {
    std::string out;
    if (runCommand("swaymsg -t get_workspaces", &out) != 0)
        return {};
    std::vector<QRect> areas;
    for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(out)).array()) {
        const QJsonObject r = v.toObject()["rect"].toObject();
        const QRect workspace(r["x"].toInt(), r["y"].toInt(), r["width"].toInt(),
                              r["height"].toInt());
        areas.emplace_back(0, 0, 1 << 16, workspace.top());
        areas.emplace_back(0, workspace.bottom() + 1, 1 << 16, 1 << 16);
    }
    return areas;
}

bool sway(const std::string& command) {
    return runCommand("swaymsg '" + command + "' >/dev/null") == 0;
}

QImage grim(const std::string& arguments, const fs::path& file) {
    if (runCommand("grim " + arguments + " " + file.string()) != 0)
        return {};
    return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
}

// Pixels that differ between two pictures of one size, outside the `skip` rectangles; `where`
// gets the rectangle that holds them all, for the failure message.
long differingPixels(const QImage& a, const QImage& b, const std::vector<QRect>& skip = {},
                     QRect* where = nullptr) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    long count = 0;
    for (int row = 0; row < x.height(); ++row) {
        auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            if ((p[col] & 0xFFFFFF) == (q[col] & 0xFFFFFF))
                continue;
            bool skipped = false;
            for (const QRect& r : skip)
                skipped = skipped || r.contains(col, row);
            if (skipped)
                continue;
            ++count;
            if (where)
                *where |= QRect(col, row, 1, 1);
        }
    }
    return count;
}

// Plain files this user put straight into a folder since `since`: what a portal leaves behind
// (XWayland's lock file aside).
std::vector<std::string> newFilesOfOurs(const fs::path& folder, time_t since) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        struct stat info {};
        if (entry.path().filename().string().rfind(".X", 0) == 0)
            continue;
        if (lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == geteuid() && info.st_mtime >= since)
            found.push_back(entry.path().string());
    }
    return found;
}

// One copy of the program in a folder of its own (its capture folder), with a private store.
class Program {
public:
    Program() {
        dir_ = fsDir_.path() / "app";
        fs::create_directory(dir_);
        fs::copy_file(programPath(), dir_ / "lumora");
        // The program proper, which the command loads from beside itself.
        fs::copy_file(fs::path(programPath()).parent_path() / kLibrary, dir_ / kLibrary);
        store(Option::Logo, 0);
        store(Option::Sound, 0);
        store(Option::Naming, 0);
    }
    ~Program() { stop(); }
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }
    // The desktop the program believes it runs in.
    void setDesktop(const QString& name) { setVariable("XDG_CURRENT_DESKTOP", name); }
    // A compositor without screencopy (GNOME, KDE): the program's pictures then come from the
    // portal.
    void withoutScreencopy() { setVariable("WAYLAND_DISPLAY", "no-such-compositor"); }
    void setVariable(const QString& name, const QString& value) {
        environment_.insert(name, value);
        process_.setProcessEnvironment(environment_);
    }
    void store(Option option, std::int64_t value) {
        ASSERT_TRUE(lumora::settings::writeNumber(option, value));
    }
    // Starts the program and waits for its main window in the compositor's tree.
    bool start() {
        process_.setProgram(QString::fromStdString((dir_ / "lumora").string()));
        process_.setWorkingDirectory(QString::fromStdString(fsDir_.path().string()));
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        return process_.waitForStarted(10000) &&
               waitUntil([&] { return !windowFrames(process_.processId()).empty(); }, 30s);
    }
    qint64 pid() const { return process_.processId(); }
    std::string path() const { return (dir_ / "lumora").string(); }
    const fs::path& folder() const { return dir_; }
    bool running() const { return process_.state() == QProcess::Running; }
    // The complete capture files: a JPG is complete once its hidden temporary BMP is gone.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& name : listFolder(dir_))
            if (name != "lumora" && name != kLibrary && name[0] != '.')
                names.push_back(name);
        return names;
    }
    bool waitForFiles(std::size_t count) const {
        return waitUntil(
            [&] {
                const auto all = listFolder(dir_);
                const bool temp = std::any_of(all.begin(), all.end(),
                                              [](auto& n) { return n.rfind(".temp", 0) == 0; });
                return !temp && files().size() >= count;
            },
            30s);
    }
    QImage picture(std::size_t index) const {
        return QImage(QString::fromStdString((dir_ / files().at(index)).string()));
    }
    std::string errors() {
        QCoreApplication::processEvents();
        stderr_ += process_.readAllStandardError().toStdString();
        return stderr_;
    }

private:
    ScopedConfigHome config_;
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
    TempDir fsDir_;
    fs::path dir_;
    QProcess process_;
    std::string stderr_;
};

// A window of another program, floating where the program's window does not cover it.
class ForeignWindow {
public:
    ForeignWindow() {
        process_.start("xmessage", {"-geometry", "420x160", "A window of another program"});
        process_.waitForStarted(10000);
    }
    ~ForeignWindow() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool place() {
        const std::string match = "[pid=" + std::to_string(process_.processId()) + "]";
        return waitUntil([&] { return !windowFrames(process_.processId()).empty(); }, 10s) &&
               sway(match + " floating enable, move position 120 140, focus");
    }
    QRect frame() const {
        const auto frames = windowFrames(process_.processId());
        return frames.size() == 1 ? frames[0] : QRect();
    }

private:
    QProcess process_;
};

bool portalExpected() {
    const char* portal = std::getenv("LUMORA_TEST_PORTAL");
    return portal != nullptr && std::string(portal) == "1";
}

std::string geometry(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

// A screen capture equals grim's picture of the output, but for the program's own windows
// (their advert label blinks) and its tray icon.
void expectScreen(const QImage& captured, const Program& program, const TempDir& scratch) {
    ASSERT_FALSE(captured.isNull());
    const QImage screen = grim("-o HEADLESS-1", scratch.path() / "screen.png");
    ASSERT_FALSE(screen.isNull());
    std::vector<QRect> skip = windowFrames(program.pid());
    for (const QRect& bar : barAreas())
        skip.push_back(bar);
    QRect where;
    EXPECT_EQ(differingPixels(captured, screen, skip, &where), 0)
        << "within x " << where.x() << " y " << where.y() << " w " << where.width() << " h "
        << where.height();
}

// A window capture equals grim's picture of the window's frame.
void expectWindow(const QImage& captured, const ForeignWindow& foreign, const TempDir& scratch) {
    ASSERT_FALSE(captured.isNull());
    const QRect frame = foreign.frame();
    ASSERT_FALSE(frame.isEmpty());
    const QImage window = grim("-g '" + geometry(frame) + "'", scratch.path() / "window.png");
    EXPECT_EQ(captured.size(), frame.size());
    EXPECT_EQ(differingPixels(captured, window), 0);
}

// The program's window out of the way (the one region that changes by itself), the focus on
// the other program's window.
void placeWindows(const Program& program, ForeignWindow& foreign) {
    ASSERT_TRUE(sway("[pid=" + std::to_string(program.pid()) + "] move position 1300 650"));
    ASSERT_TRUE(foreign.place());
    // The compositor draws the moved and refocused windows over its next frames; a picture
    // asked for before then still shows part of the old state, which grim, later, does not.
    std::this_thread::sleep_for(500ms);
}

// Screenshot requests sent to the portal, whose backend writes a file for each.
class PortalScreenshots {
public:
    PortalScreenshots() {
        monitor_.start("dbus-monitor", {"--session",
                                        "type='method_call',interface='org.freedesktop.portal."
                                        "Screenshot',member='Screenshot'"});
        monitor_.waitForStarted(5000);
        std::this_thread::sleep_for(300ms);  // until it listens
    }
    ~PortalScreenshots() {
        monitor_.kill();
        monitor_.waitForFinished(3000);
    }
    bool none() {
        QCoreApplication::processEvents();
        return monitor_.readAllStandardOutput().indexOf("member=Screenshot") < 0;
    }

private:
    QProcess monitor_;
};

class WaylandCapture : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr || !portalExpected())
            GTEST_SKIP() << "runs in the Wayland test desktop with a portal (scripts/test)";
        started_ = time(nullptr);
    }
    // Every portal file went once read: nothing piles up in /tmp or the pictures folder.
    void expectNothingLeftBehind() {
        EXPECT_EQ(newFilesOfOurs("/tmp", started_), std::vector<std::string>{});
        EXPECT_EQ(listFolder(fs::path(std::getenv("HOME")) / "Pictures"),
                  std::vector<std::string>{});
    }
    time_t started_ = 0;
    TempDir scratch_;
};

// sway copies its outputs into the program's own memory (screencopy): the pictures equal
// grim's, and no file is written anywhere but in the capture folder.
TEST_F(WaylandCapture, IntervalCapturesEqualTheCompositorsPicture) {
    PortalScreenshots portal;
    ForeignWindow foreign;
    for (int mode : {1, 2}) {  // the whole screen, then the active window
        SCOPED_TRACE(mode == 1 ? "screen" : "active window");
        Program program;
        program.store(Option::IntervalMode, mode);
        program.store(Option::IntervalSeconds, 1);
        program.store(Option::Engine, 0);
        ASSERT_TRUE(program.start());
        placeWindows(program, foreign);
        const std::size_t before = program.files().size();
        // The second capture from now began after the windows were placed.
        ASSERT_TRUE(program.waitForFiles(before + 2)) << program.errors();
        if (mode == 1)
            expectScreen(program.picture(before + 1), program, scratch_);
        else
            expectWindow(program.picture(before + 1), foreign, scratch_);
    }
    EXPECT_TRUE(portal.none()) << "a capture went through the portal";
    expectNothingLeftBehind();
}

// The commands a person binds to keys in a desktop without global shortcuts: forwarded to the
// running program, or captured by the command itself when none runs.
TEST_F(WaylandCapture, CaptureCommandsGiveTheScreenAndTheFocusedWindow) {
    ForeignWindow foreign;
    Program program;
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());
    placeWindows(program, foreign);
    ASSERT_EQ(runCommand(program.path() + " --capture screen"), 0);
    ASSERT_TRUE(program.waitForFiles(1)) << program.errors();
    expectScreen(program.picture(0), program, scratch_);
    ASSERT_EQ(runCommand(program.path() + " --capture window"), 0);
    ASSERT_TRUE(program.waitForFiles(2)) << program.errors();
    expectWindow(program.picture(1), foreign, scratch_);
    program.stop();
    ASSERT_EQ(runCommand(program.path() + " --capture screen"), 0);
    ASSERT_TRUE(program.waitForFiles(3));
    expectScreen(program.picture(2), program, scratch_);
    expectNothingLeftBehind();
}

// The messages the program shows from its tray icon, as the desktop's notification service
// receives them.
class Notifications {
public:
    Notifications() {
        monitor_.start("dbus-monitor", {"--session",
                                        "type='method_call',interface='org.freedesktop."
                                        "Notifications',member='Notify'"});
        monitor_.waitForStarted(5000);
        std::this_thread::sleep_for(300ms);  // until it listens
    }
    ~Notifications() {
        monitor_.kill();
        monitor_.waitForFinished(3000);
    }
    int count(const std::string& text) {
        QCoreApplication::processEvents();
        seen_ += monitor_.readAllStandardOutput().toStdString();
        int n = 0;
        for (auto at = seen_.find(text); at != std::string::npos; at = seen_.find(text, at + 1))
            ++n;
        return n;
    }

private:
    QProcess monitor_;
    std::string seen_;
};

// A desktop that lets no program capture the active window and offers no global shortcuts
// (GNOME before 48): window captures show the screen, and both are said once (on GNOME the
// keys in a box that offers shortcuts, which captures go on behind).
TEST_F(WaylandCapture, WithoutActiveWindowCapturesTheScreenAndSaysSoOnce) {
    const std::string noWindow = "不允许程序截取活动窗口";
    Notifications notifications;
    Program program;
    program.setDesktop("GNOME");
    program.store(Option::IntervalMode, 2);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(sway("[pid=" + std::to_string(program.pid()) + "] move position 1300 650"));
    const std::size_t before = program.files().size();
    ASSERT_TRUE(program.waitForFiles(before + 3)) << program.errors();
    expectScreen(program.picture(before + 1), program, scratch_);
    EXPECT_EQ(notifications.count(noWindow), 1);
    EXPECT_TRUE(waitUntil([&] { return windowFrames(program.pid()).size() == 2; }, 30s));

    // The key hint is for the first start only. Stopped just after a capture, so no portal
    // request is left half done (its picture would stay behind).
    const std::size_t now = program.files().size();
    ASSERT_TRUE(program.waitForFiles(now + 1));
    program.stop();
    program.store(Option::IntervalMode, 0);
    ASSERT_TRUE(program.start());
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(windowFrames(program.pid()).size(), 1u);
    expectNothingLeftBehind();
}

// A second output left of and above the primary one: the compositor's picture then starts at
// that output's corner, and the screen capture is still the primary output, as grim reads it.
TEST_F(WaylandCapture, AnOutputLeftOfThePrimaryLeavesTheScreenCaptureTheSame) {
    ASSERT_TRUE(sway("create_output"));
    std::string outputs;
    ASSERT_EQ(runCommand("swaymsg -t get_outputs", &outputs), 0);
    ASSERT_NE(outputs.find("HEADLESS-2"), std::string::npos) << outputs;
    ASSERT_TRUE(sway("output HEADLESS-2 resolution 1280x720 position -1280 -200"));
    std::this_thread::sleep_for(1s);  // XWayland learns the new layout
    Program program;
    program.store(Option::Engine, 0);
    const int status = runCommand(program.path() + " --capture screen");
    const bool shown = sway("output HEADLESS-2 disable");  // the layout back as it was
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(shown);
    ASSERT_EQ(program.files().size(), 1u);
    const QImage screen = grim("-o HEADLESS-1", scratch_.path() / "screen.png");
    ASSERT_FALSE(screen.isNull());
    QRect where;
    EXPECT_EQ(differingPixels(program.picture(0), screen, barAreas(), &where), 0)
        << "within x " << where.x() << " y " << where.y() << " w " << where.width() << " h "
        << where.height();
    expectNothingLeftBehind();
}

class WaylandNoPortal : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr || portalExpected())
            GTEST_SKIP() << "runs in the Wayland test desktop without a portal (scripts/test)";
    }
};

TEST_F(WaylandNoPortal, CapturesFailWithTheCauseAndWriteNothing) {
    Program program;
    program.withoutScreencopy();
    program.store(Option::IntervalMode, 1);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 0);  // not even an empty BMP file
    ASSERT_TRUE(program.start());
    std::this_thread::sleep_for(4s);
    EXPECT_TRUE(program.running());
    EXPECT_EQ(listFolder(program.folder()), (std::vector<std::string>{"lumora", kLibrary}));
    // Each lost capture is reported, with the cause.
    const std::string errors = program.errors();
    const auto lost = errors.find("was not saved in " + program.folder().string() + "/");
    ASSERT_NE(lost, std::string::npos) << errors;
    EXPECT_NE(errors.substr(lost, errors.find('\n', lost) - lost).find("no screenshot portal"),
              std::string::npos)
        << errors;
}

// A portal of the test's own (tests/support/fake_portal.py) with global shortcuts, and a
// Screenshot that writes a new file per request or refuses, as GNOME's and KDE's can.
class FakePortal {
public:
    FakePortal() {
        process_.start("python3", {qEnvironmentVariable("LUMORA_FAKE_PORTAL"), "1920x1080"});
        process_.waitForStarted(5000);
    }
    ~FakePortal() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(3000);
    }
    bool waitFor(const std::string& text) {
        return waitUntil(
            [&] {
                output_ += process_.readAllStandardOutput().toStdString();
                return output_.find(text) != std::string::npos;
            },
            20s);
    }
    void send(const std::string& command) {
        process_.write((command + "\n").c_str());
        process_.waitForBytesWritten(1000);
    }
    const std::string& output() {
        output_ += process_.readAllStandardOutput().toStdString();
        return output_;
    }

private:
    QProcess process_;
    std::string output_;
};

TEST_F(WaylandNoPortal, GlobalShortcutsCaptureAndThePortalsFilesGo) {
    FakePortal portal;
    ASSERT_TRUE(portal.waitFor("ready"));
    Program program;
    program.withoutScreencopy();
    program.store(Option::Engine, 1);
    program.setVariable("LUMORA_PORTAL_TIMEOUT_MS", "2000");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(portal.waitFor("bound screen=Print window=Insert")) << portal.output();

    portal.send("activate screen");
    ASSERT_TRUE(program.waitForFiles(1)) << program.errors();
    const QImage screen = program.picture(0);
    EXPECT_EQ(screen.size(), QSize(1920, 1080));
    const QRgb middle = screen.pixel(960, 540);  // JPEG: within a step or two
    EXPECT_NEAR(qRed(middle), 0x30, 2);
    EXPECT_NEAR(qGreen(middle), 0x80, 2);
    EXPECT_NEAR(qBlue(middle), 0xc0, 2);

    // With the program's own window focused the picture is cut to its frame.
    ASSERT_TRUE(sway("[pid=" + std::to_string(program.pid()) + "] focus"));
    portal.send("activate window");
    ASSERT_TRUE(program.waitForFiles(2)) << program.errors();
    const auto frames = windowFrames(program.pid());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(program.picture(1).size(), frames[0].size());

    // A refusal leaves no file, and is reported as a lost capture.
    portal.send("refuse");
    portal.send("activate screen");
    ASSERT_TRUE(portal.waitFor("refused"));
    EXPECT_TRUE(waitUntil(
        [&] { return program.errors().find("the screenshot was refused") != std::string::npos; },
        10s))
        << program.errors();
    EXPECT_EQ(program.files().size(), 2u);

    // An answer after the program gave up on the request: the capture is lost, and the picture
    // the portal wrote for it goes when it comes, as one in time would.
    portal.send("late 5");
    portal.send("activate screen");
    ASSERT_TRUE(portal.waitFor("-3.png")) << portal.output();
    const auto lateAt = portal.output().find("-3.png");
    const auto lateStart = portal.output().rfind("shot ", lateAt) + 5;
    const std::string lateFile = portal.output().substr(lateStart, lateAt + 6 - lateStart);
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(lateFile); }, 10s)) << lateFile;
    EXPECT_EQ(program.files().size(), 2u);
    // Each picture the portal wrote for a request went once read.
    for (const std::string& line : {std::string("-1.png"), std::string("-2.png")}) {
        const auto at = portal.output().find(line);
        ASSERT_NE(at, std::string::npos) << portal.output();
        const auto start = portal.output().rfind("shot ", at) + 5;
        EXPECT_FALSE(fs::exists(portal.output().substr(start, at + line.size() - start)));
    }
}

// On KDE Plasma the window comes from KWin, with its frame, through a pipe.
TEST_F(WaylandNoPortal, KdeWindowCapturesComeFromKWin) {
    FakePortal portal;
    ASSERT_TRUE(portal.waitFor("ready"));
    Program program;
    program.setDesktop("KDE");
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(portal.waitFor("bound screen=Print"));
    portal.send("activate window");
    ASSERT_TRUE(program.waitForFiles(1)) << program.errors();
    ASSERT_TRUE(portal.waitFor("kwin "));
    EXPECT_NE(portal.output().find("include-cursor=False include-decoration=True"),
              std::string::npos)
        << portal.output() << program.errors();
    const QImage window = program.picture(0);
    EXPECT_EQ(window.size(), QSize(300, 200));
    EXPECT_EQ(window.pixel(150, 100), qRgb(0xc0, 0x40, 0x20));
}

}  // namespace
