#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace lumora::settings {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    test::ScopedConfigHome home_;
};

TEST(OptionTableTest, HoldsTheStoredValuesWithTheirNamesTypesAndDefaults) {
    struct Expected {
        const char* name;
        ValueType type;
        std::int32_t number;
        const char* text;
    };
    const std::vector<Expected> expected = {
        {"N", ValueType::Number, 0, ""},
        {"yinxiao", ValueType::Number, 1, ""},
        {"logo", ValueType::Number, 1, ""},
        {"yinqing", ValueType::Number, 0, ""},
        {"chicun", ValueType::Number, 0, ""},
        {"chang", ValueType::Number, 0, ""},
        {"gao", ValueType::Number, 0, ""},
        {"mingming", ValueType::Number, 1, ""},
        {"zidingyimingming", ValueType::Text, 0, "未定义"},
        {"xuanzhejia_xuanzhongxiang", ValueType::Number, 0, ""},
        {"dingshijietu", ValueType::Number, 0, ""},
        {"定时时间", ValueType::Text, 0, ""},
        {"jianduanjietu", ValueType::Number, 0, ""},
        {"间断时间", ValueType::Number, 0, ""},
        {"tiaoguoxiangtong", ValueType::Number, 0, ""},
        {"baoliutianshu", ValueType::Number, 0, ""},
        {"baoliurongliang", ValueType::Number, 0, ""},
        {"anrifenwenjianjia", ValueType::Number, 0, ""},
        {"suopingzanting", ValueType::Number, 1, ""},
    };
    const auto table = optionTable();
    ASSERT_EQ(table.size(), expected.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(table[i].valueName, expected[i].name);
        EXPECT_EQ(table[i].type, expected[i].type);
        if (expected[i].type == ValueType::Number)
            EXPECT_EQ(table[i].defaultNumber, expected[i].number);
        else
            EXPECT_EQ(table[i].defaultText, expected[i].text);
        EXPECT_EQ(&row(table[i].option), &table[i]);
    }
}

TEST(OptionTableTest, PathsJoinTheSettingsKeyAndTheValueName) {
    EXPECT_EQ(valuePath(Option::Sound), "software\\Velmora\\Krel-V1.10\\yinxiao");
    EXPECT_EQ(valuePath(Option::TimedTimes), "software\\Velmora\\Krel-V1.10\\定时时间");
    EXPECT_EQ(valuePath(Option::IntervalSeconds), "software\\Velmora\\Krel-V1.10\\间断时间");
}

TEST(DecodeTest, MapsStoredNumbersAndSendsEverythingElseToTheSafeChoice) {
    EXPECT_EQ(decodeSound(0), 0);
    EXPECT_EQ(decodeSound(1), 1);
    EXPECT_EQ(decodeSound(7), 0);
    EXPECT_EQ(decodeSound(-1), 0);

    EXPECT_TRUE(decodeLogo(1));
    EXPECT_FALSE(decodeLogo(2));

    EXPECT_EQ(decodeEngine(1), ImageEngine::Jpg);
    EXPECT_EQ(decodeEngine(0), ImageEngine::Bmp);
    EXPECT_EQ(decodeEngine(2), ImageEngine::Png);
    EXPECT_EQ(decodeEngine(3), ImageEngine::Bmp);

    EXPECT_EQ(decodeNaming(0), NamingRule::FixedPrefix);
    EXPECT_EQ(decodeNaming(1), NamingRule::CurrentTime);
    EXPECT_EQ(decodeNaming(2), NamingRule::CustomPrefix);
    EXPECT_EQ(decodeNaming(3), NamingRule::FixedPrefix);

    EXPECT_EQ(decodeSchedule(0), ScheduleMode::Off);
    EXPECT_EQ(decodeSchedule(1), ScheduleMode::WholeScreen);
    EXPECT_EQ(decodeSchedule(2), ScheduleMode::ActiveWindow);
    EXPECT_EQ(decodeSchedule(3), ScheduleMode::Off);
}

TEST(DecodeTest, NextCounterIsStoredPlusOneWithoutOverflow) {
    EXPECT_EQ(nextCounter(0), 1);
    EXPECT_EQ(nextCounter(41), 42);
    EXPECT_EQ(nextCounter(-1), 0);  // a stored 0xFFFFFFFF
    EXPECT_EQ(nextCounter(2147483647), 2147483648LL);
    EXPECT_EQ(nextCounter(-2147483647 - 1), -2147483647LL);
}

TEST_F(SettingsStoreTest, AnEmptyStoreReadsEveryTableDefault) {
    for (const OptionRow& r : optionTable()) {
        SCOPED_TRACE(std::string(r.valueName));
        if (r.type == ValueType::Number)
            EXPECT_EQ(readNumber(r.option), r.defaultNumber);
        else
            EXPECT_EQ(readText(r.option), r.defaultText);
    }
    EXPECT_EQ(nextCounter(readNumber(Option::Counter)), 1);
    EXPECT_EQ(decodeSound(readNumber(Option::Sound)), 1);
    EXPECT_TRUE(decodeLogo(readNumber(Option::Logo)));
    EXPECT_EQ(decodeNaming(readNumber(Option::Naming)), NamingRule::CurrentTime);
    EXPECT_EQ(readOutputSize(), (OutputSize{0, 0}));
    EXPECT_EQ(readCustomPrefixFor(NamingRule::CurrentTime), "");
}

TEST_F(SettingsStoreTest, SoundStoredAsZeroSevenOrTextDecodesAsTheStoreSays) {
    ASSERT_TRUE(writeNumber(Option::Sound, 0));
    EXPECT_EQ(decodeSound(readNumber(Option::Sound)), 0);
    ASSERT_TRUE(writeNumber(Option::Sound, 7));
    EXPECT_EQ(decodeSound(readNumber(Option::Sound)), 0);
    ASSERT_TRUE(writeNumber(Option::Sound, 2));
    EXPECT_EQ(decodeSound(readNumber(Option::Sound)), 2);
    // A text "2" in place of the DWORD is another type: the default, sound 1.
    ASSERT_TRUE(platform::writeText(kRoot, valuePath(Option::Sound), "2"));
    EXPECT_EQ(decodeSound(readNumber(Option::Sound)), 1);
}

TEST_F(SettingsStoreTest, OutputSizeIsReadOnlyWhenTheSwitchIsOne) {
    ASSERT_TRUE(writeNumber(Option::FixedSize, 1));
    EXPECT_EQ(readOutputSize(), (OutputSize{0, 0}));  // chang and gao absent

    ASSERT_TRUE(writeNumber(Option::Width, 800));
    ASSERT_TRUE(writeNumber(Option::Height, 600));
    EXPECT_EQ(readOutputSize(), (OutputSize{800, 600}));

    ASSERT_TRUE(writeNumber(Option::FixedSize, 0));
    EXPECT_EQ(readOutputSize(), (OutputSize{0, 0}));
    ASSERT_TRUE(writeNumber(Option::FixedSize, 2));
    EXPECT_EQ(readOutputSize(), (OutputSize{0, 0}));
}

TEST_F(SettingsStoreTest, CustomPrefixIsReadOnlyUnderTheCustomRule) {
    ASSERT_TRUE(writeNumber(Option::Naming, 2));
    EXPECT_EQ(readCustomPrefixFor(decodeNaming(readNumber(Option::Naming))), "未定义");

    ASSERT_TRUE(writeText(Option::CustomPrefix, "shot"));
    EXPECT_EQ(readCustomPrefixFor(decodeNaming(readNumber(Option::Naming))), "shot");

    ASSERT_TRUE(writeNumber(Option::Naming, 1));
    EXPECT_EQ(readCustomPrefixFor(decodeNaming(readNumber(Option::Naming))), "");
    EXPECT_EQ(readCustomPrefixFor(NamingRule::FixedPrefix), "");
}

TEST_F(SettingsStoreTest, ValuesRoundTripUnderTheirExactNamesInTheLocalMachineFile) {
    ASSERT_TRUE(writeNumber(Option::Counter, 41));
    ASSERT_TRUE(writeText(Option::TimedTimes, "9：00；12：30"));
    ASSERT_TRUE(writeNumber(Option::IntervalSeconds, 30));

    EXPECT_EQ(nextCounter(readNumber(Option::Counter)), 42);
    EXPECT_EQ(readText(Option::TimedTimes), "9：00；12：30");
    EXPECT_EQ(readNumber(Option::IntervalSeconds), 30);
    // Other code reads the same values by root code and path, not through this table.
    EXPECT_EQ(platform::readNumber(4, "software\\Velmora\\Krel-V1.10\\间断时间"), 30);

    EXPECT_TRUE(std::filesystem::exists(home_.registryFile("HKEY_LOCAL_MACHINE")));
    EXPECT_FALSE(std::filesystem::exists(home_.registryFile("HKEY_CURRENT_USER")));
    const std::string file = test::readTextFile(home_.registryFile("HKEY_LOCAL_MACHINE"));
    EXPECT_NE(file.find("\"定时时间\""), std::string::npos);
    EXPECT_NE(file.find("\"间断时间\""), std::string::npos);
}

TEST_F(SettingsStoreTest, AWriteOfTheWrongTypeIsRefusedAndLeavesTheValueReadable) {
    ASSERT_TRUE(writeText(Option::CustomPrefix, "shot"));
    EXPECT_FALSE(writeNumber(Option::CustomPrefix, 5));
    EXPECT_EQ(readText(Option::CustomPrefix), "shot");

    ASSERT_TRUE(writeNumber(Option::Engine, 1));
    EXPECT_FALSE(writeText(Option::Engine, "0"));
    EXPECT_EQ(readNumber(Option::Engine), 1);
}

TEST_F(SettingsStoreTest, TheShutdownCounterGoesToTheSecondKeyOnly) {
    ASSERT_TRUE(writeNumber(Option::Counter, 41));
    ASSERT_TRUE(writeShutdownCounter(nextCounter(readNumber(Option::Counter))));

    EXPECT_EQ(platform::readNumber(4, "software\\Velmora\\Krel\\N", -5), 42);
    // The next start reads the settings key, so it gets the same next number again.
    EXPECT_EQ(nextCounter(readNumber(Option::Counter)), 42);
}

}  // namespace
}  // namespace lumora::settings
