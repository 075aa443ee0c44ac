// The Windows platform layer against the real system calls (run under Wine by scripts/test):
// the registry's place for the settings, capture files, and JPEG writing through them.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/capture_files.h"
#include "platform/files.h"
#include "platform/image_encoding.h"
#include "platform/registry.h"
#include "platform/screen_lock.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "platform/snapshot_bmp.h"
#include "platform/win32/message_window.h"

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

// Names Windows refuses fail with that cause (not a missing folder), leave nothing behind, and
// a ':' never makes a stream of another file.
TEST(CaptureFiles, ForbiddenNamesAreToldAsSuchAndWriteNothing) {
    TempFolder dir;
    for (const char* base :
         {"a:b", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "COM1", "nul"}) {
        PartFile file;
        ASSERT_TRUE(file.create(dir.folder(), 1));
        ASSERT_TRUE(file.write(reinterpret_cast<const std::uint8_t*>("BM"), 2));
        EXPECT_EQ(file.publish(base, ".jpg"), "") << base;
        EXPECT_EQ(file.error(), "the file name has characters the folder does not allow") << base;
    }
    EXPECT_TRUE(isForbiddenInFileName(':') && isForbiddenInFileName('\x1f'));
    EXPECT_FALSE(isForbiddenInFileName('a') || isForbiddenInFileName('\xe6'));
    EXPECT_TRUE(fs::is_empty(dir.path));
    EXPECT_EQ(fileErrorText(EINVAL), "the file name has characters the folder does not allow");
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

// The session's lock notifications, as Windows sends them to the hidden message window.
TEST(ScreenLock, LockAndUnlockOfTheSessionAreFollowed) {
    win32::startMessageWindow();
    watchScreenLock();
    EXPECT_FALSE(screenLocked());
    SendMessageW(win32::messageWindow(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1);
    EXPECT_TRUE(screenLocked());
    SendMessageW(win32::messageWindow(), WM_WTSSESSION_CHANGE, WTS_SESSION_REMOTE_CONTROL, 1);
    EXPECT_TRUE(screenLocked());
    SendMessageW(win32::messageWindow(), WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 1);
    EXPECT_FALSE(screenLocked());
}

// Looks, while the folder chooser shows, for a marker folder among the folders it lists, then
// closes it (after a few seconds at most).
constexpr wchar_t kChooserTitle[] = L"lumora-test-chooser";
constexpr wchar_t kMarker[] = L"lumora-marker";
int chooserTicks = 0;
bool markerListed = false;

void CALLBACK watchChooser(HWND, UINT, UINT_PTR timer, DWORD) {
    if (++chooserTicks > 50)
        KillTimer(nullptr, timer);
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM timer) -> BOOL {
            wchar_t title[64] = {};
            GetWindowTextW(window, title, 64);
            if (std::wstring_view(title) != kChooserTitle || !IsWindowVisible(window))
                return TRUE;
            EnumChildWindows(
                window,
                [](HWND child, LPARAM) -> BOOL {
                    wchar_t name[64] = {};
                    GetClassNameW(child, name, 64);
                    LVFINDINFOW find{};
                    find.flags = LVFI_STRING;
                    find.psz = kMarker;
                    if (std::wstring_view(name) == L"SysListView32" &&
                        SendMessageW(child, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(&find)) >= 0) {
                        markerListed = true;
                    }
                    return TRUE;
                },
                0);
            if (markerListed || chooserTicks > 25) {
                KillTimer(nullptr, static_cast<UINT_PTR>(timer));
                PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            }
            return FALSE;
        },
        static_cast<LPARAM>(timer));
}

TEST(Shell, FolderChooserOpensAtTheCaptureFolderOrTheNearestOneAboveIt) {
    TempFolder dir;
    fs::create_directories(dir.path / u8"截图" / kMarker);
    for (const std::string start : {dir.folder() + "截图\\", dir.folder() + "截图/gone/"}) {
        chooserTicks = 0;
        markerListed = false;
        SetTimer(nullptr, 0, 200, watchChooser);
        EXPECT_EQ(browseForFolder("lumora-test-chooser", false, start), "");  // cancelled
        EXPECT_TRUE(markerListed) << start;
    }
}

// The notification area's icon of a process started on a 144-dpi screen (the system's DPI is
// read when a process starts, so a second one is started with it): 24 pixels, not the 16-pixel
// image that screen would enlarge.
TEST(Shell, TrayIconHasTheSizeTheScreensDpiAsksFor) {
    constexpr wchar_t kChild[] = L"LUMORA_TEST_TRAY_CHILD";
    if (GetEnvironmentVariableW(kChild, nullptr, 0) > 0) {
        HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     nullptr, nullptr);
        const auto id = static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(owner));
        setTrayIcon(id, assets::find("lumora.ico"), "Lumora");
        const int width = testing::trayIconWidth(id);
        setTrayIcon(id);
        ExitProcess(static_cast<UINT>(width));
    }
    HKEY desktop = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &desktop),
              ERROR_SUCCESS);
    DWORD before = 0, size = sizeof before;
    const bool had = RegQueryValueExW(desktop, L"LogPixels", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&before), &size) == ERROR_SUCCESS;
    const DWORD dpi = 144;
    RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof dpi);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=Shell.TrayIconHasTheSizeTheScreensDpiAsksFor";
    SetEnvironmentVariableW(kChild, L"1");
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &child) != FALSE;
    SetEnvironmentVariableW(kChild, nullptr);
    DWORD width = 0;
    if (started) {
        WaitForSingleObject(child.hProcess, 60000);
        GetExitCodeProcess(child.hProcess, &width);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    if (had)
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before),
                       sizeof before);
    else
        RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
    ASSERT_TRUE(started);
    if (width == 0)
        GTEST_SKIP() << "no notification area on this desktop";
    EXPECT_EQ(width, 24u);
}

}  // namespace
}  // namespace lumora::platform
