#include "platform/capture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using lumora::platform::createNewFile;
using lumora::platform::createTemporaryBmp;
using lumora::test::listFolder;
using lumora::test::readTextFile;
using lumora::test::TempDir;
using lumora::test::writeTextFile;

namespace {

using Names = std::vector<std::string>;

TEST(CreateNewFile, FreeNameIsCreatedEmpty) {
    TempDir dir;
    const std::string path = createNewFile(dir.folder() + "shot_0001", ".jpg");
    EXPECT_EQ(path, dir.folder() + "shot_0001.jpg");
    EXPECT_EQ(listFolder(dir.path()), Names{"shot_0001.jpg"});
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(CreateNewFile, ExistingFilesSurviveAndTheNextFreeNumberIsUsed) {
    TempDir dir;
    writeTextFile(dir.path() / "shot_0001.bmp", "user data");
    writeTextFile(dir.path() / "shot_0001 (2).bmp", "more user data");
    // A directory and a dangling link of a candidate name are taken names too.
    fs::create_directory(dir.path() / "shot_0001 (3).bmp");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "shot_0001 (4).bmp");

    EXPECT_EQ(createNewFile(dir.folder() + "shot_0001", ".bmp"),
              dir.folder() + "shot_0001 (5).bmp");
    EXPECT_EQ(createNewFile(dir.folder() + "shot_0001", ".bmp"),
              dir.folder() + "shot_0001 (6).bmp");
    EXPECT_EQ(readTextFile(dir.path() / "shot_0001.bmp"), "user data");
    EXPECT_EQ(readTextFile(dir.path() / "shot_0001 (2).bmp"), "more user data");
    EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
}

TEST(CreateNewFile, SameStemWithOtherExtensionIsNotACollision) {
    TempDir dir;
    writeTextFile(dir.path() / "a.bmp", "x");
    EXPECT_EQ(createNewFile(dir.folder() + "a", ".jpg"), dir.folder() + "a.jpg");
}

TEST(CreateNewFile, FailsWithoutCreatingAnythingWhenTheFolderIsUnusable) {
    TempDir dir;
    EXPECT_EQ(createNewFile(dir.folder() + "missing/shot", ".bmp"), "");
    EXPECT_EQ(createNewFile("", ".bmp"), "");
    EXPECT_EQ(createNewFile(dir.folder() + std::string(300, 'x'), ".bmp"), "");
    if (geteuid() != 0) {  // root writes into read-only folders anyway
        fs::create_directory(dir.path() / "ro");
        chmod((dir.path() / "ro").c_str(), 0555);
        EXPECT_EQ(createNewFile(dir.folder() + "ro/shot", ".bmp"), "");
    }
    EXPECT_EQ(listFolder(dir.path()).size(), geteuid() != 0 ? 1u : 0u);
}

TEST(CreateTemporaryBmp, UsesHiddenNameAndLeavesAUsersFileAlone) {
    TempDir dir;
    EXPECT_EQ(createTemporaryBmp(dir.folder()), dir.folder() + ".temp.bmp");
    // The first one is still there (made by someone else as far as the second call knows).
    EXPECT_EQ(createTemporaryBmp(dir.folder()), dir.folder() + ".temp-2.bmp");
    writeTextFile(dir.path() / ".temp-3.bmp", "keep");
    EXPECT_EQ(createTemporaryBmp(dir.folder()), dir.folder() + ".temp-4.bmp");
    EXPECT_EQ(readTextFile(dir.path() / ".temp-3.bmp"), "keep");
    EXPECT_EQ(listFolder(dir.path()),
              (Names{".temp-2.bmp", ".temp-3.bmp", ".temp-4.bmp", ".temp.bmp"}));
}

TEST(CreateTemporaryBmp, MissingFolderGivesNoFile) {
    TempDir dir;
    EXPECT_EQ(createTemporaryBmp(dir.folder() + "gone/"), "");
    EXPECT_EQ(createTemporaryBmp(""), "");
    EXPECT_TRUE(listFolder(dir.path()).empty());
}

}  // namespace
