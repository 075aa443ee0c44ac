// `lumora --capture` as a shortcut, a script or a launcher runs it: alone, beside a running
// instance, with a window of another program focused, after a delay, and misused. Every test
// talks over a session bus of its own, so no desktop's bus and no other test is involved.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/capture/image_checks.h"
#include "tests/support/program_e2e.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

struct Finished {
    int code = -1;
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

// Runs the program's copy with arguments until it ends; `env` entries override the test's.
Finished run(const fs::path& program, const QStringList& args,
             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    const auto start = std::chrono::steady_clock::now();
    process.start(QString::fromStdString(program.string()), args);
    Finished r;
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished(5000);
        return r;
    }
    r.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput().toStdString();
    r.err = process.readAllStandardError().toStdString();
    return r;
}

bool processesLeft(const fs::path& program) {
    return runCommand("pgrep -f '^" + program.string() + "( |$)' >/dev/null") == 0;
}

std::optional<BmpInfo> bmpAt(const std::string& path) {
    return readBmpInfo(readFile(path));
}

class CaptureCommandE2E : public ::testing::Test {
protected:
    // A private session bus for the whole file.
    static void SetUpTestSuite() {
        std::string out;
        if (runCommand("dbus-daemon --session --fork --print-address=1 --print-pid=1", &out) != 0)
            return;
        std::istringstream lines(out);
        std::string address;
        std::getline(lines, address);
        lines >> busPid;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    static void TearDownTestSuite() {
        if (busPid > 0)
            kill(busPid, SIGTERM);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void SetUp() override {
        LUMORA_REQUIRE_X();
        if (!fs::exists(LUMORA_EXECUTABLE))
            GTEST_SKIP() << "the program is not built";
        ASSERT_GT(busPid, 0) << "no session bus (is dbus-daemon installed?)";
    }
    static inline pid_t busPid = 0;
};

TEST_F(CaptureCommandE2E, WithoutAnInstanceTheCommandCapturesOnceAndEnds) {
    Program program;
    program.store(Option::Engine, 0);
    program.store(Option::Counter, 6);
    ForeignWindow foreign;
    const std::string client = foreign.activate();
    ASSERT_FALSE(client.empty()) << "could not focus a window of another program";
    const auto frame = frameGeometry(client);
    ASSERT_TRUE(frame);

    // The window focused when the delay is over: that of the other program.
    const Finished window = run(program.executable(), {"--capture", "window", "--delay", "1"});
    ASSERT_EQ(window.code, 0) << window.err;
    EXPECT_GE(window.took, 1s);
    EXPECT_EQ(window.out, program.file(fixedStem(7) + ".bmp").string() + "\n");
    EXPECT_EQ(window.err, "");
    const auto windowInfo = bmpAt(program.file(fixedStem(7) + ".bmp"));
    ASSERT_TRUE(windowInfo);
    EXPECT_EQ(windowInfo->width, frame->width);
    EXPECT_EQ(windowInfo->height, frame->height);
    EXPECT_EQ(program.storedCounter(), 7u);
    EXPECT_FALSE(processesLeft(program.executable()));

    const Finished screen = run(program.executable(), {"--capture=screen"});
    ASSERT_EQ(screen.code, 0) << screen.err;
    EXPECT_EQ(screen.out, program.file(fixedStem(8) + ".bmp").string() + "\n");
    const auto screenInfo = bmpAt(program.file(fixedStem(8) + ".bmp"));
    ASSERT_TRUE(screenInfo);
    EXPECT_EQ(screenInfo->width, screenSize().width());
    EXPECT_EQ(screenInfo->height, screenSize().height());
    EXPECT_EQ(program.storedCounter(), 8u);
    EXPECT_EQ(program.files(), (Names{fixedStem(7) + ".bmp", fixedStem(8) + ".bmp"}));

    // Two commands at once (a key pressed twice): neither waits for the other, each number once.
    QProcess first, second;
    first.start(QString::fromStdString(program.executable().string()), {"--capture", "screen"});
    second.start(QString::fromStdString(program.executable().string()), {"--capture", "screen"});
    ASSERT_TRUE(first.waitForFinished(30000) && second.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(program.files(), (Names{fixedStem(7) + ".bmp", fixedStem(8) + ".bmp",
                                      fixedStem(9) + ".bmp", fixedStem(10) + ".bmp"}));
    EXPECT_EQ(program.storedCounter(), 10u);
}

TEST_F(CaptureCommandE2E, BesideARunningInstanceThatInstanceCaptures) {
    Program program;
    program.store(Option::Engine, 0);
    ASSERT_TRUE(program.start());

    const Finished screen = run(program.executable(), {"--capture", "screen"});
    ASSERT_EQ(screen.code, 0) << screen.err;
    EXPECT_EQ(screen.out, program.file(fixedStem(1) + ".bmp").string() + "\n");
    EXPECT_LT(screen.took, 5s);  // the request itself; its speed is measured by the benchmarks
    std::string box;
    runCommand("xdotool search --onlyvisible --name '您好' 2>/dev/null", &box);
    EXPECT_EQ(trim(box), "") << "the already-running box appeared";

    // The keys go on with the instance's numbering.
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(2));

    ForeignWindow foreign;
    const std::string client = foreign.activate();
    ASSERT_FALSE(client.empty());
    const auto frame = frameGeometry(client);
    ASSERT_TRUE(frame);
    const Finished window = run(program.executable(), {"--capture", "window"});
    ASSERT_EQ(window.code, 0) << window.err;
    EXPECT_EQ(window.out, program.file(fixedStem(3) + ".bmp").string() + "\n");
    const auto windowInfo = bmpAt(program.file(fixedStem(3) + ".bmp"));
    ASSERT_TRUE(windowInfo);
    EXPECT_EQ(windowInfo->width, frame->width);
    EXPECT_EQ(windowInfo->height, frame->height);

    // With the instance out of reach the command refuses rather than race it for the number.
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumora-bus");
    const Finished refused = run(program.executable(), {"--capture", "screen"}, noBus);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("session bus"), std::string::npos) << refused.err;

    EXPECT_EQ(program.files(),
              (Names{fixedStem(1) + ".bmp", fixedStem(2) + ".bmp", fixedStem(3) + ".bmp"}));
    EXPECT_EQ(program.storedCounter(), 3u);

    // A capture the instance could not save: the command says so in one line and nothing else
    // (no Qt warning from a message read while the command ends), again and again.
    TempDir elsewhere;
    fs::rename(program.folder(), elsewhere.path() / "moved");
    for (int i = 0; i < 6; ++i) {
        const Finished notSaved = run(elsewhere.path() / "moved" / program.executable().filename(),
                                      {"--capture", "screen"});
        EXPECT_EQ(notSaved.code, 1);
        EXPECT_EQ(notSaved.err, "lumora: the capture was not saved: the folder does not exist\n");
    }
    fs::rename(elsewhere.path() / "moved", program.folder());
    EXPECT_TRUE(program.running());
}

// A sound device that never takes the samples (PipeWire without an output does this; here ALSA
// writes into a pipe nobody reads) holds the command no longer than its cap, and a program
// started while the command holds the instance lock waits for it instead of giving way.
TEST_F(CaptureCommandE2E, AStuckSoundDeviceNeitherHoldsTheCommandNorTurnsAStartAway) {
    Program program;
    program.store(Option::Engine, 0);
    program.store(Option::Sound, 1);
    TempDir alsa;
    const fs::path pipe = alsa.path() / "nobody-reads.fifo";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    writeTextFile(alsa.path() / "asound.conf",
                  "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
                      pipe.string() + "\"\n  format \"raw\"\n}\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ALSA_CONFIG_PATH", QString::fromStdString((alsa.path() / "asound.conf").string()));
    QProcess command;
    command.setProcessEnvironment(env);
    const auto started = std::chrono::steady_clock::now();
    command.start(QString::fromStdString(program.executable().string()), {"--capture", "screen"});
    // The file comes before the shutter sound, which holds the command (and its lock) a while.
    ASSERT_TRUE(waitUntil([&] { return fs::exists(program.file(fixedStem(1) + ".bmp")); }, 20s));
    ASSERT_TRUE(program.start());
    std::string box;
    runCommand("xdotool search --onlyvisible --name '您好' 2>/dev/null", &box);
    EXPECT_EQ(trim(box), "") << "the already-running box appeared";

    ASSERT_TRUE(command.waitForFinished(20000)) << "the command hangs on the sound device";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    EXPECT_EQ(command.exitCode(), 0) << command.readAllStandardError().toStdString();
    EXPECT_EQ(command.readAllStandardOutput().toStdString(),
              program.file(fixedStem(1) + ".bmp").string() + "\n");
    // The program that waited runs on with the next number, once it has started (it went on
    // with its start-up when the command ended).
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(program.running());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(program.waitForFiles(2));
    EXPECT_EQ(program.files(), (Names{fixedStem(1) + ".bmp", fixedStem(2) + ".bmp"}));
}

TEST_F(CaptureCommandE2E, MisuseIsRefusedWithTheUsage) {
    Program program;
    for (const QStringList& args :
         {QStringList{"--bogus"}, QStringList{"--capture", "desk"}, QStringList{"--capture"},
          QStringList{"--capture", "screen", "--delay", "61"},
          QStringList{"--capture", "screen", "--delay", "1.5"}, QStringList{"--delay", "2"},
          QStringList{"stray"}}) {
        const Finished r = run(program.executable(), args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: lumora"), std::string::npos) << r.err;
    }
    EXPECT_EQ(program.files(), Names{});
    EXPECT_EQ(program.storedCounter(), std::nullopt);

    const Finished help = run(program.executable(), {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--capture screen|window"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const Finished version = run(program.executable(), {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "lumora " LUMORA_VERSION "\n");
}

}  // namespace
