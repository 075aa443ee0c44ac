#pragma once
// The stem of a capture's file name: prefix (by naming rule) + tag (by capture kind) + running
// number. The caller adds the capture folder in front and the extension behind.
#include <cstddef>
#include <string>

#include "platform/clock.h"
#include "settings/capture_settings.h"

namespace lumora::capture {

inline constexpr const char* kFixedPrefix = "Lumora截图贴士";
// What the custom-prefix rule names files with when no prefix is stored.
inline constexpr const char* kMissingCustomPrefix = "木有";
inline constexpr const char* kTimedTag = "_【定时截图】";
inline constexpr const char* kIntervalTag = "_【间断截图】";
// The longest stem in bytes: a file name holds at most 255 bytes, ".bmp" or ".jpg" follows,
// and a name already taken in the folder gets up to " (100000)" before the extension.
inline constexpr std::size_t kMaxStemBytes = 255 - 4 - 9;

// Reads `namingRule` and `captureCounter` from `settings`, uses `clock` under CurrentTime and
// reads the custom prefix afresh from the settings store under CustomPrefix. The stem is always
// a single file name inside the capture folder: "/" and NUL in a stored prefix become "／" and
// "_", and an overlong prefix is shortened (at a character boundary) so the name still fits.
std::string makeFileStem(CaptureKind kind, const CaptureSettings& settings,
                         platform::DateTime clock);
// The same with the process-wide settings and the clock read once, now.
std::string makeFileStem(CaptureKind kind);

// The sub-folder of the capture folder that captures of the local date of `clock` go into
// when captures are kept in a folder per day: "2026-12-08".
std::string dayFolderName(platform::DateTime clock);

}  // namespace lumora::capture
