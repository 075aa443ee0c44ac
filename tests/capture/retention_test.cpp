// Trimming old scheduled captures against real files: what is removed, in which order, and
// everything that must stay. Runs in the Windows build too.
#include "capture/retention.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "settings/capture_settings.h"

namespace lumora::capture {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Names are UTF-8 here; std::filesystem reads a narrow string in the system's code page on
// Windows.
fs::path utf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
std::string text(const fs::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

struct Folder {
    Folder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("lumora-retention-" + std::to_string(random()));
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    // A file of `kib` KiB written `hoursAgo` hours ago.
    fs::path file(const std::string& name, int hoursAgo, int kib = 1) const {
        const fs::path at = path / utf8(name);
        fs::create_directories(at.parent_path());
        std::ofstream(at, std::ios::binary)
            << std::string(static_cast<std::size_t>(kib) * 1024, 'x');
        fs::last_write_time(at, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
        return at;
    }
    bool has(const std::string& name) const {
        std::error_code ec;
        return fs::symlink_status(path / utf8(name), ec).type() != fs::file_type::not_found;
    }
    std::string folder() const {
        return text(path) + static_cast<char>(fs::path::preferred_separator);
    }
    fs::path path;
};

std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const std::string kTimed = "_【定时截图】";
const std::string kInterval = "_【间断截图】";

TEST(Retention, NamesOfScheduledCapturesAndDayFolders) {
    for (const std::string& name : std::vector<std::string>{
             "Lumora截图贴士" + kTimed + "_0001.bmp",
             "2026年12月7日2时6分" + kInterval + "_12345.jpg", "我的" + kTimed + "_-001.png",
             kInterval + "_0042 (2).jpg", "x" + kTimed + "_0007 (13).png"})
        EXPECT_TRUE(isScheduledCaptureName(name)) << name;
    for (const std::string& name : std::vector<std::string>{
             "Lumora截图贴士_0001.bmp", "Lumora截图贴士" + kTimed + "_001.bmp",
             "Lumora截图贴士" + kTimed + "_0001.txt", "Lumora截图贴士" + kTimed + "_0001.bmp.part",
             "Lumora截图贴士" + kTimed + "0001.bmp", "Lumora截图贴士" + kTimed + "_0001 (1).bmp",
             "Lumora截图贴士" + kTimed + "_0001 (02).bmp",
             "Lumora截图贴士" + kTimed + "_0001(2).bmp", "Lumora截图贴士" + kTimed + "_00a1.bmp",
             "Lumora截图贴士" + kTimed + "_0001.BMP", ".lumora-12-3.part", "【定时截图】_0001.bmp"})
        EXPECT_FALSE(isScheduledCaptureName(name)) << name;
    EXPECT_TRUE(isDayFolderName("2026-12-08"));
    for (const char* name : {"2026-13-08", "2026-12-00", "2026-12-8", "2026_12_08", "20261208xx"})
        EXPECT_FALSE(isDayFolderName(name)) << name;
}

// One folder holding everything a capture folder may hold; age first, then size.
TEST(Retention, RemovesOnlyOldScheduledCapturesOldestFirst) {
    Folder f;
    Folder outside;
    const std::string stem = "Lumora截图贴士";
    // Scheduled captures: two old ones, one of them in a day folder, and newer ones.
    f.file(stem + kTimed + "_0001.bmp", 24 * 40);
    f.file("2026-10-01/" + stem + kInterval + "_0002 (2).jpg", 24 * 30);
    f.file(stem + kInterval + "_0003.png", 24 * 3, 300);
    f.file("2026-12-05/" + stem + kTimed + "_0004.jpg", 24 * 2, 300);
    f.file(stem + kInterval + "_0005.jpg", 24, 300);
    f.file("2026-12-07/" + stem + kInterval + "_0006.jpg", 1, 300);
    // What must stay however old: a manual capture, other files, a scheduled name in a folder
    // that is no day folder, a folder with a capture's name, and links.
    f.file(stem + "_0007.bmp", 24 * 50);
    f.file("holiday.jpg", 24 * 50);
    f.file(stem + kTimed + "_0008.bmp.txt", 24 * 50);
    f.file("old/" + stem + kTimed + "_0009.bmp", 24 * 50);
    fs::create_directories(f.path / utf8(stem + kTimed + "_0010.jpg"));
    const fs::path target = outside.file(stem + kTimed + "_0011.jpg", 24 * 50);
    outside.file("2026-11-30/" + stem + kTimed + "_0012.jpg", 24 * 50);
    std::error_code linkError;
    fs::create_symlink(target, f.path / utf8(stem + kTimed + "_0011.jpg"), linkError);
    if (!linkError)
        fs::create_directory_symlink(outside.path / "2026-11-30", f.path / "2026-11-30", linkError);

    RetentionIndex index(f.folder());
    index.scan();
    ASSERT_EQ(index.size(), 6u);

    EXPECT_EQ(index.enforce({10, 0}, now()), 2u);
    EXPECT_FALSE(f.has(stem + kTimed + "_0001.bmp"));
    EXPECT_FALSE(f.has("2026-10-01/" + stem + kInterval + "_0002 (2).jpg"));
    EXPECT_TRUE(f.has("2026-10-01"));  // folders stay, even when emptied

    // 1 MiB holds three of the 300 KiB captures: the oldest goes.
    EXPECT_EQ(index.enforce({0, 1}, now()), 1u);
    EXPECT_FALSE(f.has(stem + kInterval + "_0003.png"));
    EXPECT_EQ(index.bytes(), 3u * 300 * 1024);

    // A new capture in a new day folder joins the index; the oldest makes room for it.
    const fs::path added = f.file("2026-12-08/" + stem + kTimed + "_0013.jpg", 0, 300);
    index.add(text(added));
    index.add(text(added));                                            // told twice, counted once
    index.add(text(f.file("old/" + stem + kTimed + "_0014.bmp", 0)));  // not a day folder
    EXPECT_EQ(index.size(), 4u);
    EXPECT_EQ(index.enforce({0, 1}, now()), 1u);
    EXPECT_FALSE(f.has("2026-12-05/" + stem + kTimed + "_0004.jpg"));

    // The newest capture stays even when it alone is beyond the limit.
    index.add(text(f.file(stem + kTimed + "_0015.bmp", 0, 1100)));
    EXPECT_EQ(index.enforce({0, 1}, now()), 3u);
    EXPECT_EQ(index.size(), 1u);
    EXPECT_TRUE(f.has(stem + kTimed + "_0015.bmp"));

    for (const std::string& kept : std::vector<std::string>{
             stem + "_0007.bmp", std::string("holiday.jpg"), stem + kTimed + "_0008.bmp.txt",
             "old/" + stem + kTimed + "_0009.bmp", "old/" + stem + kTimed + "_0014.bmp",
             stem + kTimed + "_0010.jpg"})
        EXPECT_TRUE(f.has(kept)) << kept;
    EXPECT_TRUE(fs::exists(target));
    EXPECT_TRUE(fs::exists(outside.path / "2026-11-30" / utf8(stem + kTimed + "_0012.jpg")));
    if (!linkError) {
        EXPECT_TRUE(f.has(stem + kTimed + "_0011.jpg"));
    }
}

// The program's own path: start-up lists the folder in the background, each saved capture
// trims it by the settings of the moment, and a changed file is judged afresh.
TEST(Retention, StartAndSavedCapturesFollowTheSettings) {
    Folder f;
    const std::string stem = "Lumora截图贴士" + kTimed;
    f.file(stem + "_0001.jpg", 24 * 5);
    f.file(stem + "_0002.jpg", 24 * 3);
    CaptureSettings& settings = captureSettings();
    settings.keepDays = 0;
    settings.keepMegabytes = 0;
    checkRetention(f.folder());
    finishRetention();
    EXPECT_TRUE(f.has(stem + "_0001.jpg"));

    settings.keepDays = 4;
    checkRetention(f.folder());
    finishRetention();
    EXPECT_FALSE(f.has(stem + "_0001.jpg"));
    EXPECT_TRUE(f.has(stem + "_0002.jpg"));

    // Written again since it was listed: it counts as new now.
    f.file(stem + "_0002.jpg", 0);
    settings.keepDays = 2;
    const fs::path manual = f.file("Lumora截图贴士_0003.jpg", 24 * 9);
    noteSavedCapture(f.folder(), text(manual));
    noteSavedCapture(f.folder(), text(f.file(stem + "_0004.jpg", 0)));
    finishRetention();
    EXPECT_TRUE(f.has(stem + "_0002.jpg"));
    EXPECT_TRUE(f.has(stem + "_0004.jpg"));
    EXPECT_TRUE(f.has("Lumora截图贴士_0003.jpg"));
    settings.keepDays = 0;
}

}  // namespace
}  // namespace lumora::capture
