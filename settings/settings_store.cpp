#include "settings/settings_store.h"

#include <array>
#include <cstddef>

#include "platform/registry.h"

namespace lumora::settings {

namespace {

constexpr OptionRow number(Option option, std::string_view name, std::int32_t defaultValue) {
    return {option, name, ValueType::Number, defaultValue, {}};
}

constexpr OptionRow text(Option option, std::string_view name, std::string_view defaultText) {
    return {option, name, ValueType::Text, 0, defaultText};
}

// In the order start-up loads them; each row sits at the index of its Option.
constexpr std::array kTable{
    number(Option::Counter, "N", 0),
    number(Option::Sound, "yinxiao", 1),
    number(Option::Logo, "logo", 1),
    number(Option::Engine, "yinqing", 0),
    number(Option::FixedSize, "chicun", 0),
    number(Option::Width, "chang", 0),
    number(Option::Height, "gao", 0),
    number(Option::Naming, "mingming", 1),
    text(Option::CustomPrefix, "zidingyimingming", "未定义"),
    number(Option::SettingsTab, "xuanzhejia_xuanzhongxiang", 0),
    number(Option::TimedMode, "dingshijietu", 0),
    text(Option::TimedTimes, "定时时间", ""),
    number(Option::IntervalMode, "jianduanjietu", 0),
    number(Option::IntervalSeconds, "间断时间", 0),
    number(Option::SkipUnchanged, "tiaoguoxiangtong", 0),
    number(Option::KeepDays, "baoliutianshu", 0),
    number(Option::KeepMegabytes, "baoliurongliang", 0),
    number(Option::DayFolders, "anrifenwenjianjia", 0),
    number(Option::PauseWhenLocked, "suopingzanting", 1),
};

constexpr bool rowsMatchTheirIndex() {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (static_cast<std::size_t>(kTable[i].option) != i)
            return false;
    }
    return true;
}
static_assert(rowsMatchTheirIndex(), "option rows must be in the order of Option");
static_assert(kTable.size() == static_cast<std::size_t>(Option::PauseWhenLocked) + 1);

std::string joinPath(std::string_view key, std::string_view valueName) {
    std::string path;
    path.reserve(key.size() + 1 + valueName.size());
    path.append(key).append("\\").append(valueName);
    return path;
}

}  // namespace

std::span<const OptionRow> optionTable() {
    return kTable;
}

const OptionRow& row(Option option) {
    return kTable.at(static_cast<std::size_t>(option));
}

std::string valuePath(Option option) {
    return joinPath(kSettingsKey, row(option).valueName);
}

std::int32_t readNumber(Option option) {
    return platform::readNumber(kRoot, valuePath(option), row(option).defaultNumber);
}

std::string readText(Option option) {
    return readText(option, row(option).defaultText);
}

std::string readText(Option option, std::string_view defaultText) {
    return platform::readText(kRoot, valuePath(option), defaultText);
}

bool writeNumber(Option option, std::int64_t value) {
    if (row(option).type != ValueType::Number)
        return false;
    return platform::writeNumber(kRoot, valuePath(option), value);
}

bool writeText(Option option, std::string_view text) {
    if (row(option).type != ValueType::Text)
        return false;
    return platform::writeText(kRoot, valuePath(option), text);
}

bool writeShutdownCounter(std::int64_t counter) {
    return platform::writeNumber(kRoot, joinPath(kShutdownKey, row(Option::Counter).valueName),
                                 counter);
}

int decodeSound(std::int32_t stored) {
    return stored >= 1 && stored <= 3 ? stored : 0;
}

bool decodeLogo(std::int32_t stored) {
    return stored == 1;
}

ImageEngine decodeEngine(std::int32_t stored) {
    switch (stored) {
        case 1:
            return ImageEngine::Jpg;
        case 2:
            return ImageEngine::Png;
        default:
            return ImageEngine::Bmp;
    }
}

NamingRule decodeNaming(std::int32_t stored) {
    switch (stored) {
        case 1:
            return NamingRule::CurrentTime;
        case 2:
            return NamingRule::CustomPrefix;
        default:
            return NamingRule::FixedPrefix;
    }
}

ScheduleMode decodeSchedule(std::int32_t stored) {
    switch (stored) {
        case 1:
            return ScheduleMode::WholeScreen;
        case 2:
            return ScheduleMode::ActiveWindow;
        default:
            return ScheduleMode::Off;
    }
}

std::int64_t nextCounter(std::int32_t storedN) {
    // Every 32-bit value and its successor are exact in a double, so this never overflows.
    return static_cast<std::int64_t>(static_cast<double>(storedN) + 1.0);
}

OutputSize readOutputSize() {
    if (readNumber(Option::FixedSize) != 1)
        return {};
    return {readNumber(Option::Width), readNumber(Option::Height)};
}

std::string readCustomPrefixFor(NamingRule rule) {
    if (rule != NamingRule::CustomPrefix)
        return {};
    return readText(Option::CustomPrefix);
}

}  // namespace lumora::settings
