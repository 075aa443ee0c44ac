// The running program left alone for long: old scheduled captures trimmed by age and by size
// while everything else in the capture folder stays, and no scheduled capture of a locked
// screen, as the desktop's screen saver on the session bus tells it.
#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "settings/settings_store.h"
#include "tests/support/program_e2e.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

class RetentionLockE2E : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        if (!fs::exists(LUMORA_EXECUTABLE))
            GTEST_SKIP() << "the program is not built";
    }
};

// A file of `kib` KiB, written `hoursAgo` hours ago.
void makeFile(const fs::path& path, int hoursAgo, int kib = 10) {
    fs::create_directories(path.parent_path());
    writeTextFile(path, std::string(static_cast<std::size_t>(kib) * 1024, 'x'));
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
}

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

TEST_F(RetentionLockE2E, OldScheduledCapturesGoOldestFirstAndNothingElseDoes) {
    Program program;
    TempDir outside;
    const fs::path folder = program.folder();
    const std::string timed = "_【定时截图】", interval = "_【间断截图】";
    const fs::path oldTimed = folder / fixedStem(9001, timed).append(".jpg");
    const fs::path oldInDayFolder =
        folder / "2026-11-20" / fixedStem(9002, interval).append(".bmp");
    const fs::path big1 = folder / fixedStem(9003, interval).append(".jpg");
    const fs::path big2 = folder / "2026-12-01" / fixedStem(9004, interval).append(".jpg");
    const fs::path big3 = folder / fixedStem(9005, timed).append(" (2).jpg");
    makeFile(oldTimed, 24 * 10);
    makeFile(oldInDayFolder, 24 * 9);
    makeFile(big1, 3, 500);
    makeFile(big2, 2, 500);
    makeFile(big3, 1, 500);
    const fs::path manual = folder / fixedStem(9006).append(".jpg");
    const fs::path notes = folder / "notes.txt";
    const fs::path otherFolder = folder / "old" / fixedStem(9007, timed).append(".jpg");
    const fs::path link = folder / fixedStem(9008, timed).append(".jpg");
    const fs::path linkTarget = outside.path() / "kept.jpg";
    for (const fs::path& kept : {manual, notes, otherFolder, linkTarget})
        makeFile(kept, 24 * 30);
    fs::create_symlink(linkTarget, link);
    program.store(Option::KeepDays, 5);
    program.store(Option::KeepMegabytes, 1);

    // At start: two too old, and of three half-megabyte captures the oldest.
    ASSERT_TRUE(program.start());
    EXPECT_TRUE(waitUntil([&] { return !present(big1); }, 10s));
    EXPECT_FALSE(present(oldTimed));
    EXPECT_FALSE(present(oldInDayFolder));
    EXPECT_TRUE(present(big2));
    EXPECT_TRUE(present(big3));
    program.stop();

    // Interval captures as BMP, each beyond the megabyte by itself: the newest alone stays.
    program.store(Option::IntervalMode, 1);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());
    auto scheduled = [&] {
        Names names;
        for (const std::string& name : program.files())
            if (name != link.filename() &&
                (name.find(interval) != std::string::npos || name.find(timed) != std::string::npos))
                names.push_back(name);
        return names;
    };
    EXPECT_TRUE(waitUntil(
        [&] {
            const Names names = scheduled();
            return !present(big2) && !present(big3) && names.size() == 1 &&
                   names[0] >= fixedStem(2, interval);
        },
        15s))
        << ::testing::PrintToString(program.files());
    program.stop();
    for (const fs::path& kept : {manual, notes, otherFolder, linkTarget, folder / "2026-11-20"})
        EXPECT_TRUE(present(kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(link));
}

// A bus of the test's own standing in for the system bus, where logind lives.
class PrivateBus {
public:
    PrivateBus() {
        writeTextFile(dir_.path() / "bus.conf",
                      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                      "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                      "<busconfig><type>system</type><listen>unix:dir=" +
                          dir_.path().string() +
                          "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                          "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                          "<allow own=\"*\"/></policy>"
                          "</busconfig>");
        process_.start(
            "dbus-daemon",
            {"--nofork", "--print-address=1",
             QString::fromStdString("--config-file=" + (dir_.path() / "bus.conf").string())});
        process_.waitForStarted(5000);
        waitUntil([&] { return process_.canReadLine(); }, 10s);
        address_ = trim(process_.readLine().toStdString());
    }
    ~PrivateBus() {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    QProcess process_;
    std::string address_;
};

// The desktop's screen saver, standing in on the test's session bus, and logind on `loginBus`.
class FakeScreenSaver {
public:
    FakeScreenSaver(bool locked, const std::string& loginBus) {
        // By its own first line: the system's Python, which has the GLib bindings.
        process_.start(QStringLiteral(LUMORA_SOURCE_DIR "/tests/support/fake_screensaver.py"),
                       {locked ? QStringLiteral("locked") : QStringLiteral("unlocked"),
                        QString::fromStdString(loginBus)});
        process_.waitForStarted(5000);
    }
    ~FakeScreenSaver() {
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
            10s);
    }
    bool say(const std::string& command, const std::string& answer) {
        process_.write((command + "\n").c_str());
        process_.waitForBytesWritten(1000);
        return waitFor(answer);
    }

private:
    QProcess process_;
    std::string output_;
};

TEST_F(RetentionLockE2E, NoIntervalCapturesWhileTheScreenSaverOrLogindSaysLocked) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "no session bus";
    PrivateBus systemBus;
    ASSERT_FALSE(systemBus.address().empty());
    ScopedEnv systemBusAddress("DBUS_SYSTEM_BUS_ADDRESS", systemBus.address());
    // Locked before the program starts: it asks, and captures nothing.
    FakeScreenSaver saver(true, systemBus.address());
    ASSERT_TRUE(saver.waitFor("ready"));
    Program program;
    program.store(Option::IntervalMode, 1);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 1);
    ASSERT_TRUE(program.start());
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(program.files().empty()) << ::testing::PrintToString(program.files());

    // Unlocked: captures come again; locked by the signal: they stop.
    ASSERT_TRUE(saver.say("unlock", "active false"));
    ASSERT_TRUE(program.waitForFiles(2));
    ASSERT_TRUE(saver.say("lock", "active true"));
    std::this_thread::sleep_for(1500ms);  // a capture already asked for may still land
    const std::size_t whileLocked = program.files().size();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(program.files().size(), whileLocked);
    ASSERT_TRUE(saver.say("unlock", "active false"));
    ASSERT_TRUE(program.waitForFiles(whileLocked + 2));

    // logind's LockedHint of the session pauses them as well.
    ASSERT_TRUE(saver.say("hint on", "hint true"));
    std::this_thread::sleep_for(1500ms);
    const std::size_t whileHinted = program.files().size();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(program.files().size(), whileHinted);
    ASSERT_TRUE(saver.say("hint off", "hint false"));
    EXPECT_TRUE(program.waitForFiles(whileHinted + 2));
}

}  // namespace
