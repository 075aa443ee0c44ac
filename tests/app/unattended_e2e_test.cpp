// The running program left alone with its schedules: unchanged frames skipped, a folder per
// day, and a nearly full disk. Driven as in capture_e2e_test.cpp: options stored before the
// start, keys pressed on the desktop, files looked at in the capture folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "capture/file_naming.h"
#include "platform/clock.h"
#include "settings/settings_store.h"
#include "tests/support/program_e2e.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace lumora::test;
using namespace std::chrono_literals;
using lumora::settings::Option;

namespace {

class UnattendedE2E : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        if (!fs::exists(LUMORA_EXECUTABLE))
            GTEST_SKIP() << "the program is not built";
    }
    void TearDown() override { runCommand("xdotool keyup Print 2>/dev/null"); }
};

// Interval capture every second of a desktop where nothing changes but the program's own
// blinking advert: at most one frame. A window of another program appears: one more frame,
// within the interval (and a little time to write it).
TEST_F(UnattendedE2E, AnUnchangingDesktopGivesOneFrameAndANewWindowAnother) {
    Program program;
    program.store(Option::SkipUnchanged, 1);
    program.store(Option::IntervalMode, 1);
    program.store(Option::IntervalSeconds, 1);
    program.store(Option::Engine, 1);
    ASSERT_TRUE(program.start());
    std::this_thread::sleep_for(4s);
    const auto before = program.files();
    ASSERT_LE(before.size(), 1u);
    program.waitForFiles(1, 2s);
    const std::size_t first = program.files().size();
    EXPECT_EQ(first, 1u);

    ForeignWindow foreign;
    ASSERT_FALSE(foreign.activate().empty());
    EXPECT_TRUE(program.waitForFiles(first + 1, 2500ms));
    std::this_thread::sleep_for(2500ms);
    const auto names = program.files();
    EXPECT_EQ(names.size(), first + 1);
    // Skipped frames used no number.
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], fixedStem(static_cast<int>(i) + 1, "_【间断截图】") + ".jpg");
}

TEST_F(UnattendedE2E, CapturesGoIntoAFolderOfTheDay) {
    Program program;
    program.store(Option::DayFolders, 1);
    ASSERT_TRUE(program.start());
    const std::string day = lumora::capture::dayFolderName(lumora::platform::now());
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    ASSERT_TRUE(waitUntil(
        [&] { return listFolder(program.folder() / day) == Names{fixedStem(1) + ".bmp"}; }, 10s));
    std::this_thread::sleep_for(700ms);  // a second file for one press would show by now
    EXPECT_EQ(program.files(), Names{day});
    EXPECT_EQ(listFolder(program.folder() / day), Names{fixedStem(1) + ".bmp"});
}

// A 64 MB file system with 4 MB free (the floor is 6.4 MB): interval captures pause and say so
// once, a key press still saves, and once space is freed the schedule goes on by itself.
TEST_F(UnattendedE2E, ANearlyFullDiskPausesTheScheduleButNotTheKeys) {
    TempDir mountPoint;
    const fs::path small = mountPoint.path() / "small";
    fs::create_directory(small);
    if (runCommand("mount -t tmpfs -o size=64m lumora-e2e '" + small.string() + "' 2>/dev/null") !=
        0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    struct Unmount {
        fs::path at;
        ~Unmount() { runCommand("umount -l '" + at.string() + "'"); }
    } unmount{small};
    {
        Program program(small / "app");
        program.store(Option::IntervalMode, 1);
        program.store(Option::IntervalSeconds, 1);
        program.store(Option::Engine, 1);
        program.readErrors();
        const auto filler = small / "filler";
        const std::uintmax_t used = 64ull * 1024 * 1024 - fs::space(small).available;
        ASSERT_EQ(runCommand("head -c " + std::to_string(60ull * 1024 * 1024 - used) +
                             " /dev/zero > '" + filler.string() + "'"),
                  0);
        ASSERT_LT(fs::space(small).available, 6ull * 1024 * 1024);
        ASSERT_TRUE(program.start());
        std::this_thread::sleep_for(2500ms);
        EXPECT_TRUE(program.files().empty());

        ASSERT_EQ(runCommand("xdotool key Print"), 0);
        ASSERT_TRUE(program.waitForFiles(1));
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(program.files(), Names{fixedStem(1) + ".jpg"});

        fs::remove(filler);
        EXPECT_TRUE(program.waitForFiles(3, 5s));
        const auto names = program.files();
        ASSERT_GE(names.size(), 3u);
        EXPECT_EQ(names.back(),
                  fixedStem(static_cast<int>(names.size()), "_【间断截图】") + ".jpg");
        const std::string errors = program.errors();
        EXPECT_EQ(errors.find("paused"), errors.rfind("paused")) << errors;
        EXPECT_NE(errors.find("scheduled captures paused"), std::string::npos) << errors;
        EXPECT_NE(errors.find("scheduled captures resumed"), std::string::npos) << errors;
    }
}

}  // namespace
