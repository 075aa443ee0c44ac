#include "platform/capture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using lumora::test::listFolder;
using lumora::test::readTextFile;
using lumora::test::TempDir;
using lumora::test::writeTextFile;

namespace {

using Names = std::vector<std::string>;

// A complete capture of `size` bytes published as `base + extension` in `folder`, as the
// pipeline does; the path given, or empty.
std::string publishNew(const std::string& folder, const std::string& base,
                       const std::string& extension, std::size_t size = 0) {
    static unsigned long sequence = 0;
    lumora::platform::PartFile file;
    if (!file.create(folder, ++sequence))
        return {};
    const std::string bytes(size, 'x');
    if (!file.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        return {};
    return file.publish(base, extension);
}

TEST(PublishedName, FreeNameIsTakenWithTheWholeFile) {
    TempDir dir;
    const std::string path = publishNew(dir.folder(), "shot_0001", ".jpg", 5);
    EXPECT_EQ(path, dir.folder() + "shot_0001.jpg");
    EXPECT_EQ(listFolder(dir.path()), Names{"shot_0001.jpg"});
    EXPECT_EQ(fs::file_size(path), 5u);
}

TEST(PublishedName, ExistingFilesSurviveAndTheNextFreeNumberIsUsed) {
    TempDir dir;
    writeTextFile(dir.path() / "shot_0001.bmp", "user data");
    writeTextFile(dir.path() / "shot_0001 (2).bmp", "more user data");
    // A directory and a dangling link of a candidate name are taken names too.
    fs::create_directory(dir.path() / "shot_0001 (3).bmp");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "shot_0001 (4).bmp");

    EXPECT_EQ(publishNew(dir.folder(), "shot_0001", ".bmp"), dir.folder() + "shot_0001 (5).bmp");
    EXPECT_EQ(publishNew(dir.folder(), "shot_0001", ".bmp"), dir.folder() + "shot_0001 (6).bmp");
    EXPECT_EQ(readTextFile(dir.path() / "shot_0001.bmp"), "user data");
    EXPECT_EQ(readTextFile(dir.path() / "shot_0001 (2).bmp"), "more user data");
    EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
}

TEST(PublishedName, SameStemWithOtherExtensionIsNotACollision) {
    TempDir dir;
    writeTextFile(dir.path() / "a.bmp", "x");
    EXPECT_EQ(publishNew(dir.folder(), "a", ".jpg"), dir.folder() + "a.jpg");
}

TEST(PublishedName, FailsWithoutLeavingAnythingWhenTheFolderIsUnusable) {
    TempDir dir;
    EXPECT_EQ(publishNew(dir.folder() + "missing/", "shot", ".bmp"), "");
    EXPECT_EQ(publishNew(dir.folder(), std::string(300, 'x'), ".bmp"), "");
    if (geteuid() != 0) {  // root writes into read-only folders anyway
        fs::create_directory(dir.path() / "ro");
        chmod((dir.path() / "ro").c_str(), 0555);
        EXPECT_EQ(publishNew(dir.folder() + "ro/", "shot", ".bmp"), "");
    }
    EXPECT_EQ(listFolder(dir.path()).size(), geteuid() != 0 ? 1u : 0u);
    // A memory stick or a share refuses < > : ... with EINVAL: said as such, not as "missing".
    EXPECT_EQ(lumora::platform::fileErrorText(EINVAL),
              "the file name has characters the folder does not allow");
}

// The hidden file is written only through its descriptor: a link swapped in for the hidden
// name gets nothing (the capture is then lost, and says so); a taken final name is kept; nothing
// hidden remains.
TEST(PartFile, WritesThroughItsDescriptorAndNamesWithoutReplacing) {
    TempDir dir;
    writeTextFile(dir.path() / "outside", "not yours");
    writeTextFile(dir.path() / "shot.bmp", "user data");
    const std::string picture = "picture bytes";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(picture.data());
    {
        lumora::platform::PartFile file;
        ASSERT_TRUE(file.create(dir.folder(), 42));
        const std::string hidden = ".lumora-" + std::to_string(getpid()) + "-42.part";
        EXPECT_EQ(listFolder(dir.path()), (Names{hidden, "outside", "shot.bmp"}));
        fs::remove(dir.path() / hidden);
        fs::create_symlink(dir.path() / "outside", dir.path() / hidden);
        file.write(bytes, picture.size());
        EXPECT_EQ(file.publish("shot", ".bmp"), "");
        EXPECT_NE(file.error(), "");
    }
    EXPECT_EQ(readTextFile(dir.path() / "outside"), "not yours");
    EXPECT_EQ(listFolder(dir.path()), (Names{"outside", "shot.bmp"}));

    lumora::platform::PartFile file;
    ASSERT_TRUE(file.create(dir.folder(), 43));
    ASSERT_TRUE(file.write(bytes, picture.size()));
    EXPECT_EQ(file.publish("shot", ".bmp"), dir.folder() + "shot (2).bmp");
    EXPECT_EQ(readTextFile(dir.path() / "shot.bmp"), "user data");
    EXPECT_EQ(readTextFile(dir.path() / "shot (2).bmp"), picture);
    EXPECT_EQ(listFolder(dir.path()), (Names{"outside", "shot (2).bmp", "shot.bmp"}));

    lumora::platform::PartFile missing;
    EXPECT_FALSE(missing.create(dir.folder() + "gone/", 44));
    EXPECT_EQ(missing.error(), "the folder does not exist");
}

// A day folder is made when missing and used when there; a link (or a file) at its name is never
// followed, and a day folder swapped for a link after the file was begun does not lead the file
// out of the capture folder either. Leftovers are cleared inside a day folder, never through a
// link.
TEST(PartFile, DayFoldersAreMadeAndNeverReachedThroughALink) {
    TempDir dir, outside;
    const std::string picture = "picture bytes";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(picture.data());
    auto publishInto = [&](const std::string& day, unsigned long sequence) {
        lumora::platform::PartFile file;
        if (!file.create(dir.folder(), sequence, day))
            return file.error();
        file.write(bytes, picture.size());
        return file.publish("shot", ".bmp");
    };
    EXPECT_EQ(publishInto("2026-12-08", 1), dir.folder() + "2026-12-08/shot.bmp");
    EXPECT_EQ(publishInto("2026-12-08", 2), dir.folder() + "2026-12-08/shot (2).bmp");
    EXPECT_EQ(readTextFile(dir.path() / "2026-12-08" / "shot (2).bmp"), picture);

    fs::create_directory_symlink(outside.path(), dir.path() / "2026-12-09");
    writeTextFile(dir.path() / "2026-12-10", "a file of the user");
    EXPECT_EQ(publishInto("2026-12-09", 3), lumora::platform::kSubfolderNotPlain);
    EXPECT_EQ(publishInto("2026-12-10", 4), lumora::platform::kSubfolderNotPlain);
    EXPECT_EQ(publishInto("..", 5), "the folder does not exist");
    EXPECT_EQ(readTextFile(dir.path() / "2026-12-10"), "a file of the user");

    {
        lumora::platform::PartFile file;
        ASSERT_TRUE(file.create(dir.folder(), 6, "2026-12-11"));
        fs::rename(dir.path() / "2026-12-11", dir.path() / "moved");
        fs::create_directory_symlink(outside.path(), dir.path() / "2026-12-11");
        file.write(bytes, picture.size());
        EXPECT_EQ(file.publish("shot", ".bmp"), dir.folder() + "2026-12-11/shot.bmp");
    }
    EXPECT_EQ(listFolder(dir.path() / "moved"), Names{"shot.bmp"});

    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const std::string leftover = ".lumora-" + std::to_string(child) + "-1.part";
    writeTextFile(outside.path() / leftover, "");
    writeTextFile(dir.path() / "2026-12-08" / leftover, "");
    EXPECT_EQ(lumora::platform::removeLeftoverPartFiles(dir.folder(), "2026-12-09"), 0);
    EXPECT_EQ(lumora::platform::removeLeftoverPartFiles(dir.folder(), "2026-12-08"), 1);
    EXPECT_EQ(listFolder(outside.path()), Names{leftover});
}

// Only hidden files of the program's exact pattern whose process has ended are removed.
TEST(PartFile, LeftoversOfEndedProcessesAloneAreRemoved) {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child), self = std::to_string(getpid());
    TempDir dir;
    const Names kept = {".lumora-" + dead + "-1.part.bak", ".lumora-" + dead + "-x.part",
                        ".lumora-" + self + "-1.part", ".lumora-1-1.part",
                        "lumora-" + dead + "-1.part"};
    for (const auto& name : kept)
        writeTextFile(dir.path() / name, "x");
    writeTextFile(dir.path() / (".lumora-" + dead + "-1.part"), "partial");
    writeTextFile(dir.path() / (".lumora-" + dead + "-27.part"), "");
    fs::create_directory(dir.path() / (".lumora-" + dead + "-2.part"));
    EXPECT_EQ(lumora::platform::removeLeftoverPartFiles(dir.folder()), 2);
    Names expected = kept;
    expected.push_back(".lumora-" + dead + "-2.part");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(dir.path()), expected);
}

}  // namespace
