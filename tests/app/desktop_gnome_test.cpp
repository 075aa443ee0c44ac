// The program as a new user meets it in GNOME 43 and 48 on Wayland (scripts/lib/gnome-test.sh: a
// headless gnome-shell with its portals, gsd-media-keys and no tray host), in one walk through
// the states of the desktop's screenshot permission: stored "no", then empty, then allowed.
// Keys for the shell go through mutter's RemoteDesktop ($GNS_INPUT); keys and clicks for the
// program's own windows (XWayland) through xdotool; what the shell shows comes from $GNS_RIG.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
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

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string shell(const std::string& command) {
    std::string out;
    runCommand(command, &out);
    return out;
}

QJsonArray rig(const std::string& what) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(shell(env("GNS_RIG") + " " + what)))
        .array();
}

// Windows of process `pid` as the shell sees them.
std::vector<QJsonObject> windowsOf(qint64 pid) {
    std::vector<QJsonObject> found;
    for (const QJsonValue& w : rig("windows"))
        if (w.toObject()["pid"].toInteger() == pid)
            found.push_back(w.toObject());
    return found;
}

bool focusedWindowTitled(qint64 pid, const QString& title) {
    for (const QJsonObject& w : windowsOf(pid))
        if (w["focused"].toBool() && w["title"].toString() == title)
            return true;
    return false;
}

// Every text of the shell's visible modal dialogs, and of the notifications shown so far.
std::string dialogTexts() {
    return QJsonDocument(rig("dialogs")).toJson(QJsonDocument::Compact).toStdString();
}
std::string notificationTexts() {
    return QJsonDocument(rig("notifications")).toJson(QJsonDocument::Compact).toStdString();
}

bool keysToShell(const std::string& keys) {
    return runCommand(env("GNS_INPUT") + " " + keys) == 0;
}
// XWayland windows (the program's boxes) take keys from XTEST, not from the shell's input.
bool keyToFocusedXWindow(const std::string& key) {
    return runCommand("xdotool key --clearmodifiers " + key) == 0;
}

// GNOME 48 and later: the portal offers GlobalShortcuts, and GNOME answers a bind with a dialog.
bool portalOffersGlobalShortcuts() {
    return runCommand(
               "gdbus call --session --dest org.freedesktop.portal.Desktop --object-path "
               "/org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.Get "
               "org.freedesktop.portal.GlobalShortcuts version >/dev/null 2>&1") == 0;
}

bool shortcutsDialogShown() {
    for (const QJsonValue& w : rig("windows"))
        if (w.toObject()["title"].toString() == "Add Keyboard Shortcuts")
            return true;
    return false;
}

// GNOME Settings' shortcuts provider, which shows that dialog, stood in for by one that presses
// Add (tests/support/fake_shortcuts_provider.py): the rig's input does not reach the dialog.
class ShortcutsProvider {
public:
    ShortcutsProvider() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("python3", {qEnvironmentVariable("LUMORA_SHORTCUTS_PROVIDER")});
        process_.waitForStarted(5000);
    }
    // GNOME's portal backend starts the real provider as it starts; the stand-in waits in the
    // name's queue until that one is gone.
    bool takeOver() {
        return waitUntil(
            [&] {
                runCommand(
                    "kill $(pidof gnome-control-center-global-shortcuts-provider) "
                    "2>/dev/null");
                return output().find("ready") != std::string::npos;
            },
            60s);
    }
    ~ShortcutsProvider() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(3000);
    }
    bool waitFor(const std::string& text) {
        return waitUntil([&] { return output().find(text) != std::string::npos; }, 60s);
    }
    const std::string& output() {
        output_ += process_.readAllStandardOutput().toStdString();
        return output_;
    }

private:
    QProcess process_;
    std::string output_;
};

std::string customShortcuts() {
    return shell("gsettings get org.gnome.settings-daemon.plugins.media-keys custom-keybindings");
}

// Pixels that differ between two pictures of one size, outside the `skip` rectangles; `where`
// gets the rectangle that holds them all, for the failure message.
long differingPixels(const QImage& a, const QImage& b, const std::vector<QRect>& skip,
                     QRect* where) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    long count = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            if (x.pixel(col, row) == y.pixel(col, row))
                continue;
            bool skipped = false;
            for (const QRect& r : skip)
                skipped = skipped || r.contains(col, row);
            if (!skipped) {
                ++count;
                *where |= QRect(col, row, 1, 1);
            }
        }
    return count;
}

// One copy of the program in a folder of its own (its capture folder). Its store is the
// session's (a throwaway home): gsettings, like the program, must see the session's settings.
class Program {
public:
    Program() {
        dir_ = home_.path() / "app";
        fs::create_directory(dir_);
        fs::copy_file(env("LUMORA_EXECUTABLE"), dir_ / "lumora");
        // The front end loads the program proper from beside itself.
        fs::copy_file(fs::path(env("LUMORA_EXECUTABLE")).parent_path() / "lumora-program.so",
                      dir_ / "lumora-program.so");
        // Its desktop entry, as an install puts it: the portals find the program by it.
        const fs::path applications = fs::path(env("XDG_DATA_HOME")) / "applications";
        fs::create_directories(applications);
        writeTextFile(applications / "io.lumora.Lumora.desktop",
                      "[Desktop Entry]\nType=Application\nName=Lumora\nExec=" + path() + "\n");
        for (auto [option, value] : {std::pair{Option::Logo, 0},
                                     {Option::Sound, 0},
                                     {Option::Naming, 0},
                                     {Option::Engine, 0}})
            EXPECT_TRUE(lumora::settings::writeNumber(option, value));
    }
    ~Program() { stop(); }
    bool start() {
        process_.setProgram(QString::fromStdString(path()));
        process_.setWorkingDirectory(QString::fromStdString(home_.path().string()));
        process_.start();
        return process_.waitForStarted(10000) && waitUntil([&] { return frame().isValid(); }, 60s);
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(5000);
    }
    qint64 pid() const { return process_.processId(); }
    std::string path() const { return (dir_ / "lumora").string(); }
    QRect frame() const {
        for (const QJsonObject& w : windowsOf(pid()))
            if (w["title"].toString() == kTitle) {
                const QJsonArray f = w["frame"].toArray();
                return QRect(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
            }
        return {};
    }
    bool minimized() const {
        for (const QJsonObject& w : windowsOf(pid()))
            if (w["title"].toString() == kTitle)
                return w["minimized"].toBool();
        return false;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& name : listFolder(dir_))
            if (name != "lumora" && name != "lumora-program.so" && name[0] != '.')
                names.push_back(name);
        return names;
    }
    bool waitForFiles(std::size_t count) const {
        return waitUntil([&] { return files().size() >= count; }, 30s);
    }
    QImage picture(std::size_t index) const {
        return QImage(QString::fromStdString((dir_ / files().at(index)).string()));
    }
    std::string errors() {
        QCoreApplication::processEvents();
        stderr_ += process_.readAllStandardError().toStdString();
        return stderr_;
    }
    bool waitForError(const std::string& text) {
        return waitUntil([&] { return errors().find(text) != std::string::npos; }, 30s);
    }

    static inline const QString kTitle = QStringLiteral("Lumora截图精灵v1.10");

private:
    TempDir home_;
    fs::path dir_;
    QProcess process_;
    std::string stderr_;
};

// The program's own boxes (not the second start's "您好！").
const QString kBoxTitle = QStringLiteral("Lumora截图精灵");

class GnomeDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (env("GNS_DIR").empty())
            GTEST_SKIP() << "runs in the GNOME test desktop (scripts/lib/gnome-test.sh)";
    }
};

TEST_F(GnomeDesktop, NewUserWalk) {
    const std::string pictures = env("HOME") + "/Pictures";
    // A shortcut of the user's own, which the program's must join, not replace.
    const std::string base = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
    ASSERT_EQ(runCommand("gsettings set org.gnome.settings-daemon.plugins.media-keys."
                         "custom-keybinding:" +
                         base +
                         "custom0/ binding '<Super>F9' && "
                         "gsettings set org.gnome.settings-daemon.plugins.media-keys "
                         "custom-keybindings \"['" +
                         base + "custom0/']\""),
              0);

    Program program;
    // --- The store says "no" (the rig's preset): every capture says why, and how to undo it.
    std::string reset;
    {
        std::string out;
        EXPECT_EQ(runCommand(program.path() + " --capture screen 2>&1", &out), 1) << out;
        EXPECT_NE(out.find("screenshot permission"), std::string::npos) << out;
        const auto at = out.find("gdbus call");
        ASSERT_NE(at, std::string::npos) << out;
        reset = out.substr(at, out.find('\n', at) - at);
        EXPECT_NE(reset.find("DeletePermission screenshot screenshot"), std::string::npos) << out;
    }
    // GNOME 48 and later: the first start asks GNOME's shortcuts dialog for the program's id,
    // with keys the shell does not keep; accepted there, the program offers nothing more.
    const bool globalShortcuts = portalOffersGlobalShortcuts();
    std::unique_ptr<ShortcutsProvider> provider;
    if (globalShortcuts) {
        provider = std::make_unique<ShortcutsProvider>();
        ASSERT_TRUE(provider->takeOver()) << provider->output();
    }
    ASSERT_TRUE(program.start()) << program.errors();
    if (globalShortcuts) {
        ASSERT_TRUE(provider->waitFor(
            "bound io.lumora.Lumora asked screen=<ctrl>Print window=<super>Insert"))
            << provider->output() << program.errors();
        ASSERT_TRUE(program.waitForError("capture keys: screen = ")) << program.errors();
        EXPECT_EQ(program.errors().find("register"), std::string::npos) << program.errors();
        std::this_thread::sleep_for(3s);
        EXPECT_FALSE(focusedWindowTitled(program.pid(), kBoxTitle));
        EXPECT_EQ(customShortcuts().find("lumora-"), std::string::npos) << customShortcuts();
    } else {
        // Without global shortcuts (GNOME 43 to 47) the program offers GNOME shortcuts in a box
        // over the window; 确定 is the default button.
        ASSERT_TRUE(waitUntil([&] { return focusedWindowTitled(program.pid(), kBoxTitle); }, 60s))
            << program.errors();
        ASSERT_TRUE(keyToFocusedXWindow("Return"));
        ASSERT_TRUE(program.waitForError("capture keys added")) << program.errors();
        const std::string shortcuts = customShortcuts();
        for (const char* entry : {"custom0/", "lumora-screen/", "lumora-window/"})
            EXPECT_NE(shortcuts.find(base + entry), std::string::npos) << shortcuts;
        EXPECT_NE(
            shell("gsettings get org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:" +
                  base + "lumora-window/ command")
                .find(program.path() + " --capture window"),
            std::string::npos);
    }
    // The refusal is told where no tray host exists, as a notification; so is a capture that
    // it loses, here one asked for with the new key.
    EXPECT_TRUE(
        waitUntil([&] { return notificationTexts().find("截图权限") != std::string::npos; }, 20s))
        << notificationTexts();
    auto lossesTold = [] {
        int n = 0;
        for (const QJsonValue& note : rig("notifications"))
            n += note.toObject()["title"].toString() == "截图没有保存" &&
                 note.toObject()["body"].toString().contains("DeletePermission");
        return n;
    };
    const int lossesBefore = lossesTold();
    ASSERT_TRUE(keysToShell("Control_L+Print"));
    EXPECT_TRUE(waitUntil([&] { return lossesTold() == lossesBefore + 1; }, 20s))
        << notificationTexts() << program.errors();
    EXPECT_TRUE(program.files().empty());
    program.stop();

    // --- The README's command empties the store: the next start asks once, in front.
    ASSERT_EQ(runCommand(reset), 0) << reset;
    // Nobody has been asked yet: a one-off capture, which has no window for the desktop's
    // question, ends at once and says so, on standard error and in a notification.
    {
        const auto start = std::chrono::steady_clock::now();
        std::string out;
        EXPECT_EQ(runCommand(program.path() + " --capture screen 2>&1", &out), 1) << out;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_NE(out.find("screenshot permission is unset"), std::string::npos) << out;
        EXPECT_TRUE(waitUntil(
            [&] { return notificationTexts().find("请先启动一次 Lumora") != std::string::npos; },
            10s))
            << notificationTexts();
    }
    ASSERT_TRUE(program.start()) << program.errors();
    ASSERT_TRUE(waitUntil([&] { return focusedWindowTitled(program.pid(), kBoxTitle); }, 60s))
        << "the box that says the desktop will ask " << program.errors();
    // A capture asked of it before the question is answered ends at once, and says why.
    {
        const auto start = std::chrono::steady_clock::now();
        std::string out;
        EXPECT_EQ(runCommand(program.path() + " --capture screen 2>&1", &out), 1) << out;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_NE(out.find("screenshot permission is unset"), std::string::npos) << out;
    }
    ASSERT_TRUE(keyToFocusedXWindow("Return"));
    ASSERT_TRUE(
        waitUntil([&] { return dialogTexts().find("Screenshot") != std::string::npos; }, 30s))
        << dialogTexts();
    EXPECT_TRUE(focusedWindowTitled(program.pid(), Program::kTitle));
    // Deny has the focus; Tab reaches Allow.
    ASSERT_TRUE(keysToShell("Tab Return"));
    ASSERT_TRUE(waitUntil([&] { return dialogTexts() == "[]"; }, 20s)) << dialogTexts();
    EXPECT_NE(shell("gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore "
                    "--object-path /org/freedesktop/impl/portal/PermissionStore --method "
                    "org.freedesktop.impl.portal.PermissionStore.Lookup screenshot screenshot")
                  .find("'yes'"),
              std::string::npos);
    // The question's picture went; the keys, offered once, are not offered again, nor the
    // desktop's own dialog: GNOME answers the second bind from what it stored.
    std::this_thread::sleep_for(2s);
    EXPECT_FALSE(shortcutsDialogShown());
    if (globalShortcuts) {
        EXPECT_TRUE(provider->waitFor("bound io.lumora.Lumora stored")) << provider->output();
        EXPECT_NE(program.errors().find("capture keys: screen = "), std::string::npos)
            << program.errors();
        EXPECT_EQ(customShortcuts().find("lumora-"), std::string::npos) << customShortcuts();
    }
    EXPECT_EQ(listFolder(pictures), std::vector<std::string>{});
    EXPECT_TRUE(focusedWindowTitled(program.pid(), Program::kTitle));

    // --- Allowed: the keys capture, with no dialog.
    ASSERT_TRUE(keysToShell("Control_L+Print"));
    ASSERT_TRUE(program.waitForFiles(1)) << program.errors();
    ASSERT_TRUE(keysToShell("Super_L+Insert"));
    ASSERT_TRUE(program.waitForFiles(2)) << program.errors();
    EXPECT_EQ(dialogTexts(), "[]");
    // A screen capture is the shell's own screenshot, but for the program's window (its advert
    // label blinks), the top bar (its clock) and the notification banners below it, which come
    // and go (the note that window captures give the screen has just been sent).
    {
        std::this_thread::sleep_for(1s);  // the remote-input indicator leaves the top bar
        ASSERT_EQ(runCommand(program.path() + " --capture screen >/dev/null"), 0);
        ASSERT_TRUE(program.waitForFiles(3)) << program.errors();
        TempDir scratch;
        const std::string reference = (scratch.path() / "shell.png").string();
        ASSERT_EQ(runCommand(env("GNS_SHELL_SHOT") + " " + reference + " >/dev/null"), 0);
        const QImage shot(QString::fromStdString(reference));
        const QImage captured = program.picture(2);
        ASSERT_FALSE(captured.isNull());
        QRect where;
        EXPECT_EQ(
            differingPixels(captured, shot, {program.frame(), QRect(0, 0, 1 << 16, 160)}, &where),
            0)
            << where.x() << "," << where.y() << " " << where.width() << "x" << where.height();
    }
    EXPECT_EQ(listFolder(pictures), std::vector<std::string>{});

    // --- 后台运行 keeps the window in the dock; a second start brings it back.
    // The button lies at 375,240 (96x32) below the menu bar (22 px) of the client area, whose
    // origin xwininfo tells right under mutter. Since GNOME 44 mutter's frame is an X window of
    // its own that the search finds too: the client is the smallest of them.
    const QStringList origin =
        QString::fromStdString(
            shell("for w in $(xdotool search --onlyvisible --pid " + std::to_string(program.pid()) +
                  " --name '截图精灵'); do xwininfo -id $w | awk '/^ *Width:/{w=$2} "
                  "/^ *Height:/{h=$2} /Absolute upper-left X/{x=$4} /Absolute upper-left "
                  "Y/{y=$4} END{print w*h, x, y}'; done | sort -n | head -n 1"))
            .trimmed()
            .split(' ');
    ASSERT_EQ(origin.size(), 3);
    ASSERT_EQ(runCommand("xdotool mousemove " + std::to_string(origin[1].toInt() + 423) + " " +
                         std::to_string(origin[2].toInt() + 278) + " click 1"),
              0);
    ASSERT_TRUE(waitUntil([&] { return program.minimized(); }, 10s)) << rig("windows").size();
    QProcess second;
    second.start(QString::fromStdString(program.path()), {});
    ASSERT_TRUE(second.waitForStarted(10000));
    EXPECT_TRUE(waitUntil([&] { return !program.minimized(); }, 30s));
    // The second start still says it runs already, in its own box.
    ASSERT_TRUE(waitUntil([&] { return focusedWindowTitled(second.processId(), "您好！"); }, 30s));
    ASSERT_TRUE(keyToFocusedXWindow("Return"));
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(
        waitUntil([&] { return focusedWindowTitled(program.pid(), Program::kTitle); }, 10s));
}

}  // namespace
