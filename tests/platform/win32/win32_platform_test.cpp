// The Windows platform layer against the real system calls (run under Wine by scripts/test):
// the registry's place for the settings, capture files, and JPEG writing through them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "platform/capture_files.h"
#include "platform/files.h"
#include "platform/image_encoding.h"
#include "platform/registry.h"
#include "platform/snapshot_bmp.h"

namespace lumora::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TempFolder {
    TempFolder() {
        path = fs::temp_directory_path() / ("lumora-test-" + std::to_string(GetCurrentProcessId()) +
                                            "-" + std::to_string(GetTickCount64()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string folder() const { return path.string() + "\\"; }
    fs::path path;
};

// A key of our own under both roots, removed before and after.
constexpr wchar_t kTestKey[] = L"Software\\Velmora\\LumoraTest";
constexpr char kTestKeyUtf8[] = "software\\Velmora\\LumoraTest";

void removeTestKeys() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey);
}

TEST(Registry, MachineKeyLivesUnderTheUserAndTakesTheMachineDefaultsOnce) {
    removeTestKeys();
    // An administrator's defaults under HKEY_LOCAL_MACHINE.
    HKEY machine = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &machine, nullptr),
              ERROR_SUCCESS);
    const DWORD width = 800;
    RegSetValueExW(machine, L"宽度", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&width),
                   sizeof width);
    RegCloseKey(machine);

    const std::string path = std::string(kTestKeyUtf8) + "\\宽度";
    EXPECT_EQ(readNumber(kLocalMachine, path, -1), 800);
    // Written under the user, the machine's value stays as it was.
    ASSERT_TRUE(writeNumber(kLocalMachine, path, std::int32_t{1024}));
    ASSERT_TRUE(writeText(kLocalMachine, std::string(kTestKeyUtf8) + "\\前缀", "截图_"));
    EXPECT_EQ(readNumber(kLocalMachine, path, -1), 1024);
    EXPECT_EQ(readText(kLocalMachine, std::string(kTestKeyUtf8) + "\\前缀"), "截图_");
    DWORD stored = 0, size = sizeof stored;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kTestKey, L"宽度", RRF_RT_REG_DWORD, nullptr, &stored,
                           &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 1024u);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kTestKey, L"宽度", RRF_RT_REG_DWORD, nullptr,
                           &stored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 800u);
    // Other types and missing values give the default; non-finite numbers are not stored.
    EXPECT_EQ(readNumber(kLocalMachine, std::string(kTestKeyUtf8) + "\\前缀", 7), 7);
    EXPECT_EQ(readText(kLocalMachine, std::string(kTestKeyUtf8) + "\\无", "缺省"), "缺省");
    EXPECT_FALSE(writeNumber(kLocalMachine, path, std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(writeNumber(kLocalMachine, path, -1.9));
    EXPECT_EQ(readNumber(kLocalMachine, path), -1);
    removeTestKeys();
}

TEST(CaptureFiles, HiddenUntilPublishedNeverReplacingAndLeftoversOfEndedProcessesGo) {
    TempFolder dir;
    {
        PartFile first;
        ASSERT_TRUE(first.create(dir.folder(), 1)) << first.error();
        const std::uint8_t data[] = {'B', 'M', 1, 2, 3};
        ASSERT_TRUE(first.write(data, sizeof data));
        EXPECT_EQ(first.publish("截图 1", ".bmp"), dir.folder() + "截图 1.bmp");
        PartFile second;
        ASSERT_TRUE(second.create(dir.folder(), 2));
        ASSERT_TRUE(second.write(data, 2));
        EXPECT_EQ(second.publish("截图 1", ".bmp"), dir.folder() + "截图 1 (2).bmp");
        PartFile abandoned;
        ASSERT_TRUE(abandoned.create(dir.folder(), 3));
        ASSERT_TRUE(abandoned.write(data, 2));
    }
    EXPECT_EQ(readAll(dir.path / u8"截图 1.bmp").size(), 5u);
    EXPECT_EQ(readAll(dir.path / u8"截图 1 (2).bmp").size(), 2u);
    EXPECT_FALSE(GetFileAttributesW((dir.path / u8"截图 1.bmp").wstring().c_str()) &
                 FILE_ATTRIBUTE_HIDDEN);
    // The abandoned file is gone; a leftover of an ended process goes at the next tidy-up,
    // a name that only looks alike stays.
    std::ofstream(dir.path / ".lumora-999999996-1.part") << "x";
    std::ofstream(dir.path / ".lumora-x-1.part") << "x";
    EXPECT_EQ(removeLeftoverPartFiles(dir.folder()), 1);
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(count, 3);
}

// A day folder is made when missing and the file is made and named relative to its handle,
// which is held meanwhile (Windows refuses to rename it away; Wine allows it, and then the file
// follows the folder, never the name). A link (a reparse point) or a file at its name is never
// used, and nothing lands where a link points. Leftovers go inside a day folder too.
TEST(CaptureFiles, DayFoldersAreMadeHeldAndNeverReachedThroughALink) {
    TempFolder dir, outside;
    const std::uint8_t data[] = {'B', 'M', 1, 2, 3};
    const fs::path day = dir.path / "2026-12-08", moved = dir.path / "moved";
    bool wasMoved = false;
    {
        PartFile file;
        ASSERT_TRUE(file.create(dir.folder(), 1, "2026-12-08")) << file.error();
        wasMoved = MoveFileW(day.wstring().c_str(), moved.wstring().c_str()) != 0;
        if (wasMoved)
            ASSERT_TRUE(CreateDirectoryW(day.wstring().c_str(), nullptr));  // an impostor
        ASSERT_TRUE(file.write(data, sizeof data));
        EXPECT_EQ(file.publish("截图", ".bmp"), dir.folder() + "2026-12-08\\截图.bmp")
            << file.error();
    }
    EXPECT_EQ(readAll((wasMoved ? moved : day) / u8"截图.bmp").size(), 5u);
    if (wasMoved) {
        EXPECT_TRUE(fs::is_empty(day));
        fs::remove(day);
        fs::rename(moved, day);
    }
    PartFile again;
    ASSERT_TRUE(again.create(dir.folder(), 2, "2026-12-08"));
    ASSERT_TRUE(again.write(data, 2));
    EXPECT_EQ(again.publish("截图", ".bmp"), dir.folder() + "2026-12-08\\截图 (2).bmp");

    std::ofstream(dir.path / "2026-12-10") << "a file of the user";
    PartFile onAFile;
    EXPECT_FALSE(onAFile.create(dir.folder(), 3, "2026-12-10"));
    EXPECT_EQ(onAFile.error(), kSubfolderNotPlain);
    // Where links can be made and are seen as reparse points (Wine's are neither found nor
    // opened as such, so there the check cannot be made).
    const std::wstring link = (dir.path / "2026-12-09").wstring();
    if (CreateSymbolicLinkW(link.c_str(), outside.path.wstring().c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
        (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
        PartFile throughLink;
        EXPECT_FALSE(throughLink.create(dir.folder(), 4, "2026-12-09"));
        EXPECT_TRUE(fs::is_empty(outside.path));
    }
    PartFile escaping;
    EXPECT_FALSE(escaping.create(dir.folder(), 5, ".."));

    std::ofstream(dir.path / "2026-12-08" / ".lumora-999999996-1.part") << "x";
    EXPECT_EQ(removeLeftoverPartFiles(dir.folder(), "2026-12-08"), 1);
    EXPECT_FALSE(fs::exists(dir.path / "2026-12-08" / ".lumora-999999996-1.part"));
}

TEST(CaptureFiles, JpegWrittenThroughThePartFileIsCompleteAndConvertingAgreesWithIt) {
    TempFolder dir;
    std::vector<std::uint8_t> pixels(64 * 48 * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    const Bytes bmp = snapshot::packBmp(pixels.data(), 64 * 4, 64, 48);
    std::string jpg;
    {
        PartFile file;
        ASSERT_TRUE(file.create(dir.folder(), 1));
        ASSERT_EQ(writeJpegFromBmpImage(bmp, file.descriptor(), 75, true), kConvertOk);
        jpg = file.publish("a", ".jpg");
    }
    const std::vector<std::uint8_t> written = readAll(fs::u8path(jpg));
    ASSERT_GT(written.size(), 4u);
    EXPECT_EQ(written[0], 0xFF);
    EXPECT_EQ(written[1], 0xD8);
    EXPECT_EQ(written[written.size() - 2], 0xFF);
    EXPECT_EQ(written.back(), 0xD9);
    // The same picture from a BMP file, through the file calls of the converter.
    ASSERT_TRUE(writeFileBytes(dir.folder() + "a.bmp", bmp));
    EXPECT_EQ(convertBmpToJpg(dir.folder() + "a.bmp", dir.folder() + "b.jpg", false, 75, true),
              kConvertOk);
    EXPECT_EQ(readAll(dir.path / "b.jpg"), written);
    EXPECT_EQ(convertBmpToJpg(dir.folder() + "none.bmp", dir.folder() + "c.jpg", false, 75),
              kConvertNoSource);
    EXPECT_EQ(convertBmpToJpg(dir.folder() + "a.bmp", dir.folder() + "A.BMP", false, 75),
              kConvertBadArguments);
}

TEST(Paths, WindowsPathRules) {
    EXPECT_TRUE(isAbsolutePath("C:\\截图"));
    EXPECT_TRUE(isAbsolutePath("\\\\server\\share"));
    EXPECT_FALSE(isAbsolutePath("截图\\a"));
    EXPECT_EQ(withTrailingSeparator("C:\\a"), "C:\\a\\");
    EXPECT_EQ(withTrailingSeparator("C:\\a/"), "C:\\a/");
    EXPECT_EQ(programFileName(), "win32_platform_test.exe");
    EXPECT_TRUE(isAbsolutePath(defaultCaptureFolder()));
}

}  // namespace
}  // namespace lumora::platform
