#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>

#include "platform/registry_format.h"
#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

namespace fs = std::filesystem;
using test::readTextFile;
using test::ScopedConfigHome;
using test::writeTextFile;

constexpr int kHKLM = kLocalMachine;
constexpr const char* kKey = "software\\Velmora\\Krel-V1.10\\";

std::string at(const char* value) {
    return std::string(kKey) + value;
}

// Texts whose bytes must come back exactly, also in another process.
const std::vector<std::pair<std::string, std::string>>& sampleTexts() {
    static const std::vector<std::pair<std::string, std::string>> texts = {
        {"empty", ""},
        {"plain", "木有"},
        {"quotes", "say \"hi\" \\ back\\"},
        {"trailing backslash", "C:\\"},
        {"lines", "one\ntwo\r\nthree\r"},
        {"cjk 定时时间", "8：30；12：00"},
        {"nul inside", std::string("a\0b", 3)},
        {"not utf8", "\xff\xfe\x80x"},
        {"looks like syntax", "\"=dword:00000001\n[HKEY_USERS]\n"},
        {"percent", "%HOME%"},
    };
    return texts;
}

const std::vector<std::pair<std::string, std::int32_t>>& sampleNumbers() {
    static const std::vector<std::pair<std::string, std::int32_t>> numbers = {
        {"N", 41},
        {"zero", 0},
        {"minus", -1},
        {"min", std::numeric_limits<std::int32_t>::min()},
        {"max", std::numeric_limits<std::int32_t>::max()}};
    return numbers;
}

// Runs in a fresh process started by RoundTripsThroughAFreshProcess.
TEST(RegistryChild, ReadsWhatTheParentWrote) {
    if (!std::getenv("LUMORA_REGISTRY_CHILD"))
        GTEST_SKIP() << "only as a child process";
    for (const auto& [name, text] : sampleTexts())
        EXPECT_EQ(readText(kHKLM, at(name.c_str()), "default"), text) << name;
    for (const auto& [name, n] : sampleNumbers())
        EXPECT_EQ(readNumber(kHKLM, at(name.c_str()), 7), n) << name;
    if (!::testing::Test::HasFailure())
        std::printf("CHILD-READ-OK\n");
}

TEST(Registry, RoundTripsThroughAFreshProcess) {
    ScopedConfigHome home;
    for (const auto& [name, text] : sampleTexts())
        ASSERT_TRUE(writeText(kHKLM, at(name.c_str()), text)) << name;
    for (const auto& [name, n] : sampleNumbers())
        ASSERT_TRUE(writeNumber(kHKLM, at(name.c_str()), n)) << name;

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string out;
    const int status = test::runCommand(
        "LUMORA_REGISTRY_CHILD=1 '" + self + "' --gtest_filter=RegistryChild.* 2>&1", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("CHILD-READ-OK"), std::string::npos) << out;
}

TEST(Registry, RootCodesChooseTheFile) {
    ScopedConfigHome home;
    ASSERT_TRUE(writeNumber(1, "a", 1));
    ASSERT_TRUE(writeNumber(2, "a", 2));
    ASSERT_TRUE(writeNumber(4, "a", 4));
    ASSERT_TRUE(writeNumber(5, "a", 5));
    ASSERT_TRUE(writeNumber(3, "a", 3));
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER",
                             "HKEY_LOCAL_MACHINE", "HKEY_USERS"})
        EXPECT_TRUE(fs::exists(home.registryFile(root))) << root;
    // Unknown codes mean HKEY_CURRENT_USER.
    EXPECT_EQ(readNumber(0, "a"), 3);
    EXPECT_EQ(readNumber(-7, "a"), 3);
    EXPECT_EQ(readNumber(99, "a"), 3);
    EXPECT_EQ(readNumber(4, "a"), 4);
    ASSERT_TRUE(writeNumber(6, "a", 60));
    EXPECT_EQ(readNumber(3, "a"), 60);
}

TEST(Registry, StoresTheReadableTextForm) {
    ScopedConfigHome home;
    ASSERT_TRUE(writeNumber(kHKLM, at("N"), 42));
    ASSERT_TRUE(writeText(kHKLM, at("zidingyimingming"), "a \"b\" c\\d"));
    ASSERT_TRUE(writeNumber(kHKLM, "software\\Velmora\\Krel\\N", 43));
    EXPECT_EQ(readTextFile(home.registryFile("HKEY_LOCAL_MACHINE")),
              "REGEDIT4\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\n"
              "\"N\"=dword:0000002a\n"
              "\"zidingyimingming\"=\"a \\\"b\\\" c\\\\d\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel]\n"
              "\"N\"=dword:0000002b\n"
              "\n");
}

TEST(Registry, MissingOrMistypedValuesReadAsTheDefault) {
    ScopedConfigHome home;
    EXPECT_EQ(readText(kHKLM, at("none")), "");
    EXPECT_EQ(readText(kHKLM, at("none"), "未定义"), "未定义");
    EXPECT_EQ(readNumber(kHKLM, at("none")), 0);
    EXPECT_EQ(readNumber(kHKLM, at("none"), 1), 1);

    ASSERT_TRUE(writeText(kHKLM, at("yinxiao"), "2"));
    ASSERT_TRUE(writeNumber(kHKLM, at("logo"), 0));
    EXPECT_EQ(readNumber(kHKLM, at("yinxiao"), 1), 1);
    EXPECT_EQ(readText(kHKLM, at("logo"), "x"), "x");
    // Same value name, another key.
    EXPECT_EQ(readNumber(kHKLM, "software\\Velmora\\Krel\\logo", 5), 5);
    // A stored empty text is a text, not a missing value.
    ASSERT_TRUE(writeText(kHKLM, at("empty"), ""));
    EXPECT_EQ(readText(kHKLM, at("empty"), "default"), "");
}

TEST(Registry, NumbersAreConvertedTo32Bits) {
    ScopedConfigHome home;
    const auto stored = [](auto v) {
        EXPECT_TRUE(writeNumber(kHKLM, at("n"), v));
        return readNumber(kHKLM, at("n"), 12345);
    };
    EXPECT_EQ(stored(12.9), 12);
    EXPECT_EQ(stored(-12.9), -12);
    EXPECT_EQ(stored(-0.5), 0);
    EXPECT_EQ(stored(std::int64_t{4294967297}), 1);
    EXPECT_EQ(stored(std::int64_t{-1}), -1);
    EXPECT_EQ(stored(std::int64_t{0x1'8000'0000}), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(stored(3e9), static_cast<std::int32_t>(3000000000u));
    EXPECT_EQ(stored(4294967297.7), 1);
    EXPECT_EQ(stored(-4294967297.0), -1);
    // Beyond 64 bits the integer part still keeps its low 32 bits: 2^70 + 5.
    EXPECT_EQ(stored(std::ldexp(1.0, 70) + std::ldexp(1.0, 20)), 1 << 20);

    // Values without an integer part store nothing and keep the old value.
    ASSERT_TRUE(writeNumber(kHKLM, at("n"), 77));
    EXPECT_FALSE(writeNumber(kHKLM, at("n"), std::nan("")));
    EXPECT_FALSE(writeNumber(kHKLM, at("n"), std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(writeNumber(kHKLM, at("n"), -std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readNumber(kHKLM, at("n")), 77);
}

TEST(Registry, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    ScopedConfigHome home;
    ASSERT_TRUE(writeNumber(kHKLM, "Software\\Velmora\\Value", 1));
    ASSERT_TRUE(writeNumber(kHKLM, "SOFTWARE\\velmora\\VALUE", 2));
    EXPECT_EQ(readNumber(kHKLM, "software\\VELMORA\\value"), 2);
    const std::string file = readTextFile(home.registryFile("HKEY_LOCAL_MACHINE"));
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Velmora]\n\"Value\"=dword:00000002\n"),
              std::string::npos)
        << file;
    EXPECT_EQ(file.find("SOFTWARE"), std::string::npos);
    // Only ASCII letters fold: these are different names.
    ASSERT_TRUE(writeNumber(kHKLM, "k\\Ä", 1));
    EXPECT_EQ(readNumber(kHKLM, "k\\ä", 9), 9);
}

TEST(Registry, PathsSplitAtTheLastBackslashCharacterWise) {
    ScopedConfigHome home;
    ASSERT_TRUE(writeText(kHKLM, "software\\软件\\表\\定时时间", "8：30"));
    EXPECT_EQ(readText(kHKLM, "software\\软件\\表\\定时时间"), "8：30");
    std::string file = readTextFile(home.registryFile("HKEY_LOCAL_MACHINE"));
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\software\\软件\\表]\n\"定时时间\"=\"8：30\"\n"),
              std::string::npos)
        << file;

    // No backslash: a value right under the root. A trailing one: the key's default value.
    ASSERT_TRUE(writeNumber(kHKLM, "top", 5));
    ASSERT_TRUE(writeText(kHKLM, "software\\d\\", "default value"));
    file = readTextFile(home.registryFile("HKEY_LOCAL_MACHINE"));
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE]\n\"top\"=dword:00000005\n"), std::string::npos);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\software\\d]\n@=\"default value\"\n"),
              std::string::npos);
    EXPECT_EQ(readNumber(kHKLM, "\\top"), 5);

    // A lead byte whose sequence is broken by the backslash does not hide that backslash.
    ASSERT_TRUE(writeNumber(kHKLM, "k\\\xE5\\v", 3));
    EXPECT_EQ(readNumber(kHKLM, "k\\\xE5\\v"), 3);
    EXPECT_EQ(reg::parse(readTextFile(home.registryFile("HKEY_LOCAL_MACHINE")))
                  ->find("HKEY_LOCAL_MACHINE\\k\\\xE5", "v")
                  ->data.size(),
              4u);
}

TEST(Registry, ExpandStringsTakeTheEnvironment) {
    ScopedConfigHome home;
    test::ScopedEnv a("LUMORA_TEST_A", "alpha");
    test::ScopedEnv none("LUMORA_TEST_NONE", std::nullopt);
    fs::create_directories(home.registryFile("HKEY_LOCAL_MACHINE").parent_path());
    // REGEDIT4 files hold REG_EXPAND_SZ as the text's own bytes with the terminating zero.
    auto hex = [](std::string_view s) {
        std::string out;
        char buf[4];
        for (unsigned char c : s) {
            std::snprintf(buf, sizeof buf, "%02x,", c);
            out += buf;
        }
        return out + "00";
    };
    writeTextFile(home.registryFile("HKEY_LOCAL_MACHINE"),
                  "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\e]\n"
                  "\"known\"=hex(2):" +
                      hex("<%LUMORA_TEST_A%/%LUMORA_TEST_A%>") +
                      "\n"
                      "\"unknown\"=hex(2):" +
                      hex("%LUMORA_TEST_NONE%x%LUMORA_TEST_A%") +
                      "\n"
                      "\"odd\"=hex(2):" +
                      hex("100%% and 5% of %") + "\n");
    EXPECT_EQ(readText(kHKLM, "e\\known"), "<alpha/alpha>");
    EXPECT_EQ(readText(kHKLM, "e\\unknown"), "%LUMORA_TEST_NONE%xalpha");
    EXPECT_EQ(readText(kHKLM, "e\\odd"), "100%% and 5% of %");
    EXPECT_EQ(readNumber(kHKLM, "e\\known", 3), 3);
    // A plain REG_SZ is never expanded.
    ASSERT_TRUE(writeText(kHKLM, "e\\plain", "%LUMORA_TEST_A%"));
    EXPECT_EQ(readText(kHKLM, "e\\plain"), "%LUMORA_TEST_A%");
}

TEST(Registry, ReadsRegeditStyleFiles) {
    ScopedConfigHome home;
    const fs::path file = home.registryFile("HKEY_LOCAL_MACHINE");
    fs::create_directories(file.parent_path());
    // "%A%" as UTF-16LE, the way version 5 files hold expandable texts.
    writeTextFile(file,
                  "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                  "\r\n"
                  "; exported by hand\r\n"
                  "[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\r\n"
                  "\"yinxiao\"=dword:00000003\r\n"
                  "\"chang\" = DWORD:00000320 ; width\r\n"
                  "@=\"default\"\r\n"
                  "\"expand\"=hex(2):25,00,4c,00,55,00,4d,00,4f,00,52,00,41,00,5f,00,54,00,\\\r\n"
                  "  5f,00,42,00,25,00,00,00\r\n"
                  "\"qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                  "\"bin\"=hex:01,02\r\n"
                  "\"gone\"=dword:00000001\r\n"
                  "\"gone\"=-\r\n"
                  "\r\n"
                  "[HKEY_LOCAL_MACHINE\\software\\old]\r\n"
                  "\"x\"=dword:00000001\r\n"
                  "[-HKEY_LOCAL_MACHINE\\software\\old]\r\n"
                  "[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\r\n"
                  "\"more\"=\"later section, same key\"\r\n");
    test::ScopedEnv b("LUMORA_T_B", "bee");
    EXPECT_EQ(readNumber(kHKLM, at("yinxiao")), 3);
    EXPECT_EQ(readNumber(kHKLM, at("chang")), 800);
    EXPECT_EQ(readText(kHKLM, kKey), "default");
    EXPECT_EQ(readText(kHKLM, at("expand")), "bee");
    EXPECT_EQ(readNumber(kHKLM, at("qword"), -2), -2);
    EXPECT_EQ(readText(kHKLM, at("bin"), "d"), "d");
    EXPECT_EQ(readNumber(kHKLM, at("gone"), -3), -3);
    EXPECT_EQ(readNumber(kHKLM, "software\\old\\x", -4), -4);
    EXPECT_EQ(readText(kHKLM, at("more")), "later section, same key");

    // A write keeps every value it does not touch, of whatever type.
    ASSERT_TRUE(writeNumber(kHKLM, at("N"), 1));
    EXPECT_FALSE(fs::exists(fs::path(file.string() + ".corrupt")));
    const auto doc = reg::parse(readTextFile(file));
    ASSERT_TRUE(doc);
    const reg::Value* q = doc->find("HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10", "qword");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->type, 0xbu);
    EXPECT_EQ(q->data.size(), 8u);
    EXPECT_EQ(readText(kHKLM, at("expand")), "bee");
    EXPECT_EQ(readNumber(kHKLM, at("chang")), 800);
}

TEST(Registry, UnreadableFilesGiveDefaultsAndAreKeptAside) {
    ScopedConfigHome home;
    const fs::path file = home.registryFile("HKEY_LOCAL_MACHINE");
    ASSERT_TRUE(writeNumber(kHKLM, at("N"), 0x12345678));
    ASSERT_TRUE(writeText(kHKLM, at("t"), "text"));
    const std::string whole = readTextFile(file);

    // Cut in the middle of the DWORD: misreading it as 0x1234 would be worse than the default.
    const std::string cut = whole.substr(0, whole.find("5678"));
    writeTextFile(file, cut);
    EXPECT_EQ(readNumber(kHKLM, at("N"), -1), -1);
    EXPECT_EQ(readText(kHKLM, at("t"), "d"), "d");
    EXPECT_EQ(readTextFile(file), cut) << "reading changes nothing";

    ASSERT_TRUE(writeNumber(kHKLM, at("fresh"), 5));
    EXPECT_EQ(readTextFile(file.string() + ".corrupt"), cut);
    EXPECT_EQ(readNumber(kHKLM, at("fresh")), 5);
    EXPECT_EQ(readNumber(kHKLM, at("N"), -1), -1);

    // A second broken file does not overwrite the first one kept aside.
    const std::string garbage("\x00\x01\xff garbage\n[[[\n", 15);
    writeTextFile(file, garbage);
    EXPECT_EQ(readNumber(kHKLM, at("fresh"), -1), -1);
    ASSERT_TRUE(writeNumber(kHKLM, at("again"), 6));
    EXPECT_EQ(readTextFile(file.string() + ".corrupt"), cut);
    EXPECT_EQ(readTextFile(file.string() + ".corrupt.1"), garbage);
    EXPECT_EQ(readNumber(kHKLM, at("again")), 6);
    EXPECT_TRUE(reg::parse(readTextFile(file)));
}

TEST(Registry, ReadingCreatesNothing) {
    ScopedConfigHome home;
    EXPECT_EQ(readNumber(kHKLM, at("N"), 3), 3);
    EXPECT_EQ(readText(3, "a\\b", "x"), "x");
    EXPECT_TRUE(test::listFolder(home.path()).empty());
}

TEST(Registry, WritesThatCannotBeStoredReportFalse) {
    ScopedConfigHome home;
    // The store's folder cannot be made below a regular file.
    writeTextFile(home.path() / "lumora", "not a folder");
    EXPECT_FALSE(writeNumber(kHKLM, at("N"), 1));
    EXPECT_FALSE(writeText(kHKLM, at("t"), "x"));
    fs::remove(home.path() / "lumora");

    // Names holding a line break have no place in the file.
    EXPECT_FALSE(writeNumber(kHKLM, "software\\a\nb\\N", 1));
    EXPECT_FALSE(writeNumber(kHKLM, "software\\ab\\N\r", 1));

    // A store file that exists but cannot be read is never replaced.
    fs::create_directories(home.registryFile("HKEY_USERS"));
    EXPECT_FALSE(writeNumber(5, "a\\b", 1));
    EXPECT_TRUE(fs::is_directory(home.registryFile("HKEY_USERS")));

    // A store on a read-only mount (root only; CI runs as root): the write says it failed.
    const fs::path mounted = home.path() / "ro";
    fs::create_directories(mounted);
    if (geteuid() != 0 || mount("tmpfs", mounted.c_str(), "tmpfs", 0, "size=1m") != 0)
        return;
    {
        test::ScopedEnv config("XDG_CONFIG_HOME", mounted.string());
        ASSERT_TRUE(writeNumber(kHKLM, at("N"), 7));
        ASSERT_EQ(mount(nullptr, mounted.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        EXPECT_FALSE(writeNumber(kHKLM, at("N"), 8));
        EXPECT_EQ(readNumber(kHKLM, at("N")), 7);
    }
    umount(mounted.c_str());
}

// Runs `body` in a child process: true when it returned true within `seconds`. A store that
// blocks would otherwise hold the test for good.
bool inChildWithin(int seconds, const std::function<bool()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    for (int waited = 0; waited < seconds * 50; ++waited) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

TEST(Registry, OddThingsAtItsNamesAreNeverWaitedOnNorFollowed) {
    ScopedConfigHome home;
    test::TempDir elsewhere;
    const fs::path file = home.registryFile("HKEY_LOCAL_MACHINE");
    const std::string path = file.string();
    fs::create_directories(file.parent_path());
    const auto kind = [](const std::string& p) { return fs::symlink_status(p).type(); };

    // A FIFO at the store's name reads as empty; the first write keeps it aside.
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_TRUE(inChildWithin(
        10, [] { return readNumber(kHKLM, at("N"), 7) == 7 && writeNumber(kHKLM, at("N"), 1); }));
    EXPECT_EQ(kind(path), fs::file_type::regular);
    EXPECT_EQ(kind(path + ".corrupt"), fs::file_type::fifo);

    // Left at the temporary and lock names: a FIFO, and a link to somewhere else.
    ASSERT_EQ(mkfifo((path + ".tmp").c_str(), 0600), 0);
    fs::remove(path + ".lock");
    fs::create_symlink(elsewhere.path() / "victim", path + ".lock");
    EXPECT_TRUE(inChildWithin(10, [] { return writeNumber(kHKLM, at("N"), 2); }));
    EXPECT_FALSE(fs::exists(elsewhere.path() / "victim"));
    EXPECT_EQ(kind(path + ".lock"), fs::file_type::regular);
    EXPECT_EQ(readNumber(kHKLM, at("N")), 2);

    // A link to an endless device is never opened.
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
    EXPECT_TRUE(inChildWithin(
        10, [] { return readNumber(kHKLM, at("N"), 7) == 7 && writeNumber(kHKLM, at("N"), 3); }));
    EXPECT_EQ(kind(path + ".corrupt.1"), fs::file_type::symlink);

    // Larger than any store: read as empty, kept aside whole.
    writeTextFile(file,
                  "REGEDIT4\n[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\n"
                  "\"N\"=dword:00000005\n");
    fs::resize_file(file, 17 << 20);
    EXPECT_TRUE(inChildWithin(
        10, [] { return readNumber(kHKLM, at("N"), 7) == 7 && writeNumber(kHKLM, at("N"), 4); }));
    EXPECT_EQ(fs::file_size(path + ".corrupt.2"), 17u << 20);
    EXPECT_EQ(readNumber(kHKLM, at("N")), 4);
}

TEST(Registry, AnUnreadableLineCostsItsValueAloneAndIsReportedOnce) {
    ScopedConfigHome home;
    const fs::path file = home.registryFile("HKEY_LOCAL_MACHINE");
    fs::create_directories(file.parent_path());
    const std::string original =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\n"
        "\"N\"=dword:00000029\n"
        "\"yinxiao\"=dword:1ffffffff\n"  // line 5: too wide
        "\"zidingyimingming\"=\"前缀\"\n"
        "\"odd\"=hex(2):414\n"                // 7: three digits
        "[HKEY_LOCAL_MACHINE\\software\\x\n"  // 8: its key, and so line 9, unknown
        "\"lost\"=dword:00000001\n"
        "[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel]\n"
        "\"N\"=dword:0000002a\n"
        "\"cut\"=hex:01,0";  // 12: may be cut short
    writeTextFile(file, original);
    testing::internal::CaptureStderr();
    EXPECT_EQ(readNumber(kHKLM, at("N")), 41);
    EXPECT_EQ(readNumber(kHKLM, at("yinxiao"), 1), 1);
    EXPECT_EQ(readText(kHKLM, at("zidingyimingming")), "前缀");
    EXPECT_EQ(readNumber(kHKLM, "software\\Velmora\\Krel\\N"), 42);
    EXPECT_EQ(readNumber(kHKLM, "software\\x\\lost", -1), -1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("lines 5, 7, 8, 9, 12 could not be read"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    // The first write keeps the original aside and leaves a whole file with every value.
    ASSERT_TRUE(writeNumber(kHKLM, at("N"), 42));
    EXPECT_EQ(readTextFile(file.string() + ".corrupt"), original);
    const auto doc = reg::parse(readTextFile(file));
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->find("HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10", "zidingyimingming"));
    EXPECT_EQ(readNumber(kHKLM, "software\\Velmora\\Krel\\N"), 42);
}

TEST(Registry, ConcurrentWritersLoseNothing) {
    ScopedConfigHome home;
    constexpr int kWrites = 200;
    std::vector<pid_t> children;
    for (char who : {'a', 'b'}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                const std::string name = std::string(kKey) + who + std::to_string(i);
                if (!writeNumber(kHKLM, name, i + (who == 'a' ? 0 : 1000)))
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int missing = 0;
    for (int i = 0; i < kWrites; ++i) {
        if (readNumber(kHKLM, std::string(kKey) + "a" + std::to_string(i), -1) != i)
            ++missing;
        if (readNumber(kHKLM, std::string(kKey) + "b" + std::to_string(i), -1) != i + 1000)
            ++missing;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_FALSE(fs::exists(home.registryFile("HKEY_LOCAL_MACHINE").string() + ".corrupt"));
}

// The file form on its own.

TEST(RegistryFormat, FormatThenParseGivesTheSameDocument) {
    reg::Document doc;
    doc.set("HKEY_USERS\\k", {"", reg::kString, {'x', 0}});
    doc.set("HKEY_USERS\\k", {"dw", reg::kDword, {1, 2, 3, 4}});
    doc.set("HKEY_USERS\\k", {"short dword", reg::kDword, {1, 2}});
    doc.set("HKEY_USERS\\k", {"no terminator", reg::kString, {'a', 'b'}});
    doc.set("HKEY_USERS\\k", {"empty binary", reg::kBinary, {}});
    doc.set("HKEY_USERS\\k2", {"\"q\\", reg::kExpandString, {'%', 'x', '%', 0}});
    std::vector<std::uint8_t> big(300);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    doc.set("HKEY_USERS\\k2", {"big", 0x12345, big});

    const std::string text = reg::format(doc);
    for (std::string_view line : {std::string_view("@=\"x\""), std::string_view("hex(12345):")})
        EXPECT_NE(text.find(line), std::string::npos) << text;
    const auto back = reg::parse(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->keys.size(), doc.keys.size());
    for (std::size_t k = 0; k < doc.keys.size(); ++k) {
        EXPECT_EQ(back->keys[k].path, doc.keys[k].path);
        ASSERT_EQ(back->keys[k].values.size(), doc.keys[k].values.size());
        for (std::size_t v = 0; v < doc.keys[k].values.size(); ++v) {
            EXPECT_EQ(back->keys[k].values[v].name, doc.keys[k].values[v].name);
            EXPECT_EQ(back->keys[k].values[v].type, doc.keys[k].values[v].type);
            EXPECT_EQ(back->keys[k].values[v].data, doc.keys[k].values[v].data);
        }
    }
    // Hex lines stay readable.
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80u);
    }
}

TEST(RegistryFormat, AcceptsHarmlessOddities) {
    EXPECT_TRUE(reg::parse(""));
    EXPECT_TRUE(reg::parse("\n \n; nothing yet\n"));
    EXPECT_TRUE(reg::parse("REGEDIT4"));
    // No line end after the last line, but it is provably complete.
    auto doc = reg::parse("REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=\"x\"");
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->find("HKEY_USERS\\k", "a"));
    EXPECT_TRUE(reg::parse("REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=dword:0000000a"));
    // Short DWORDs and stray backslashes in texts, as people write them by hand.
    doc = reg::parse("REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=dword:a\n\"p\"=\"C:\\dir\\n\"\n");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->find("HKEY_USERS\\k", "a")->data, (std::vector<std::uint8_t>{10, 0, 0, 0}));
    const auto& p = doc->find("HKEY_USERS\\k", "p")->data;
    EXPECT_EQ(std::string(p.begin(), p.end()), std::string("C:\\dir\\n\0", 9));
    // A whole UTF-16LE export (byte order mark FF FE).
    const std::u16string utf16 = u"REGEDIT4\r\n[HKEY_USERS\\键]\r\n\"名\"=\"值\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : utf16) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    doc = reg::parse(bytes);
    ASSERT_TRUE(doc);
    const reg::Value* v = doc->find("HKEY_USERS\\键", "名");
    ASSERT_TRUE(v);
    EXPECT_EQ(std::string(v->data.begin(), v->data.end()), std::string("值\0", 4));
}

TEST(RegistryFormat, RefusesWhatItCannotReadSafely) {
    using namespace std::string_view_literals;
    const std::string_view broken[] = {
        "garbage",
        "REGEDIT5\n",
        "REGEDIT4\n\"a\"=dword:00000001\n",                    // value outside any key
        "REGEDIT4\n[HKEY_USERS\\k\n",                          // section cut short
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=\"no end\n",         // text cut short
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a=\"x\"\n",              // name cut short
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=dword:0000",         // DWORD cut short
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=hex:01,02",          // hex list maybe cut short
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=hex:01,\\\n",        // continued past the end
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=dword:123456789\n",  // too wide
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=dword:12g4\n",
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=hex:1,,2\n",
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=hex:123\n",
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=hex(z):01\n",
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=\"x\" trailing\n",
        "REGEDIT4\n[HKEY_USERS\\k]\n\"a\"=qword:1\n",
        "REGEDIT4\n[HKEY_USERS\\k]\nname=\"x\"\n",
        "REGEDIT4\n[]\n",
        "\xFF\xFE\x00\xD8"sv,  // UTF-16 with an unpaired surrogate
    };
    for (std::string_view text : broken)
        EXPECT_FALSE(reg::parse(text)) << text;
}

}  // namespace
}  // namespace lumora::platform
