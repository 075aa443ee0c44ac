#pragma once
// Helpers shared by the tests: temporary folders, scoped environment variables, file reading,
// waiting for a condition, and running the programs a person would use (xdotool, xprop).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumora::test {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // The path as text with a trailing "/", the form the capture folder has.
    std::string folder() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

// Sets (or with nullopt unsets) an environment variable and restores the old state.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A temporary XDG_CONFIG_HOME, so the registry store of a test starts empty and is private.
class ScopedConfigHome {
public:
    ScopedConfigHome();
    const std::filesystem::path& path() const { return dir_.path(); }
    // The .reg file of one root key, e.g. "HKEY_LOCAL_MACHINE".
    std::filesystem::path registryFile(const std::string& rootName) const;

private:
    TempDir dir_;
    ScopedEnv env_;
};

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void writeTextFile(const std::filesystem::path& path, const std::string& text);
std::string readTextFile(const std::filesystem::path& path);

// Polls `done` every 20 ms until it returns true or the timeout passes; processes Qt events
// meanwhile when a QCoreApplication exists. Returns the last result of `done`.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs a command through /bin/sh and returns its exit status (-1 when it could not run);
// standard output is collected into *out when given.
int runCommand(const std::string& command, std::string* out = nullptr);

// True when DISPLAY names an X server that answers.
bool haveXDisplay();

// Files in a folder (names only, sorted), hidden ones included.
std::vector<std::string> listFolder(const std::filesystem::path& folder);

}  // namespace lumora::test

// Skips the current test when no X display is available (only for tests run outside scripts/test).
#define LUMORA_REQUIRE_X()                                         \
    do {                                                           \
        if (!::lumora::test::haveXDisplay()) GTEST_SKIP() << "no X display"; \
    } while (0)
