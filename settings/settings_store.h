#pragma once
// Where the options live in the registry store, declared once as a table, and their decoding.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/capture_settings.h"

namespace lumora::settings {

inline constexpr int kRoot = 4;  // HKEY_LOCAL_MACHINE
inline constexpr std::string_view kSettingsKey = "software\\Velmora\\Krel-V1.10";
inline constexpr std::string_view kShutdownKey = "software\\Velmora\\Krel";

// The option rows; names spelled exactly as stored.
enum class Option {
    Counter,          // N
    Sound,            // yinxiao
    Logo,             // logo
    Engine,           // yinqing
    FixedSize,        // chicun
    Width,            // chang
    Height,           // gao
    Naming,           // mingming
    CustomPrefix,     // zidingyimingming
    SettingsTab,      // xuanzhejia_xuanzhongxiang
    TimedMode,        // dingshijietu
    TimedTimes,       // 定时时间
    IntervalMode,     // jianduanjietu
    IntervalSeconds,  // 间断时间
    // Unattended use: kept beside the original values, read after them.
    SkipUnchanged,    // tiaoguoxiangtong
    KeepDays,         // baoliutianshu
    KeepMegabytes,    // baoliurongliang
    DayFolders,       // anrifenwenjianjia
    PauseWhenLocked,  // suopingzanting
};

enum class ValueType { Number, Text };

struct OptionRow {
    Option option;
    std::string_view valueName;
    ValueType type;
    std::int32_t defaultNumber;    // for numbers
    std::string_view defaultText;  // for texts
};

std::span<const OptionRow> optionTable();
const OptionRow& row(Option option);
// "software\Velmora\Krel-V1.10\" + value name.
std::string valuePath(Option option);

// Reads one value with its table default. A value stored with another type than its row's
// reads as the default too.
std::int32_t readNumber(Option option);
std::string readText(Option option);
// The same with a caller's default instead of the table's (file naming reads the custom prefix
// with a default of its own).
std::string readText(Option option, std::string_view defaultText);
// Writes one value under the settings key; false when the store refused it, and false without
// writing when the option's row has the other type (a DWORD under a text's name would read as
// the default at the next start).
bool writeNumber(Option option, std::int64_t value);
bool writeText(Option option, std::string_view text);

// The running number kept at shut-down under the second key (`N` of kShutdownKey), converted as
// writeNumber does.
bool writeShutdownCounter(std::int64_t counter);

// Decoding of stored numbers into fields.
int decodeSound(std::int32_t stored);  // 1..3 as is, anything else 0
bool decodeLogo(std::int32_t stored);  // exactly 1
ImageEngine decodeEngine(std::int32_t stored);  // 1 Jpg, 2 Png, anything else Bmp
NamingRule decodeNaming(std::int32_t stored);
ScheduleMode decodeSchedule(std::int32_t stored);

// The stored value N plus 1, computed in floating point and truncated to 64 bits.
std::int64_t nextCounter(std::int32_t storedN);

// Reads that combine values whose meaning depends on one another.
struct OutputSize {
    int width = 0;  // both 0: keep the captured size
    int height = 0;
    friend bool operator==(const OutputSize&, const OutputSize&) = default;
};
// `chang` x `gao` when the switch `chicun` is 1, else 0 x 0 without reading them.
OutputSize readOutputSize();
// The settings window's `customPrefix`: `zidingyimingming` (table default) under the rule
// CustomPrefix, empty under any other rule without reading it.
std::string readCustomPrefixFor(NamingRule rule);

}  // namespace lumora::settings
