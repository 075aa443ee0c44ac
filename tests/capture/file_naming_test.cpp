#include "capture/file_naming.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace lumora::capture {
namespace {

using platform::makeDateTime;

CaptureSettings withRule(NamingRule rule, std::int64_t counter) {
    CaptureSettings s;
    s.namingRule = rule;
    s.captureCounter = counter;
    return s;
}

class FileNamingTest : public ::testing::Test {
protected:
    test::ScopedConfigHome home_;
    const platform::DateTime morning_ = makeDateTime(2026, 12, 7, 9, 5, 3);
};

TEST_F(FileNamingTest, BuildsTheStemsOfEveryRuleAndKind) {
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, withRule(NamingRule::FixedPrefix, 7), morning_),
              "Lumora截图贴士_0007");
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, withRule(NamingRule::CurrentTime, 3), morning_),
              "2026年12月7日9时5分3秒_0003");
    EXPECT_EQ(makeFileStem(CaptureKind::Timed, withRule(NamingRule::CurrentTime, 42),
                           makeDateTime(2026, 12, 7, 14, 30, 0)),
              "2026年12月7日14时30分_【定时截图】_0042");
    EXPECT_EQ(makeFileStem(CaptureKind::Interval, withRule(NamingRule::CurrentTime, 8),
                           makeDateTime(2026, 12, 7, 9, 0, 0)),
              "2026年12月7日9时_【间断截图】_0008");
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, withRule(NamingRule::CurrentTime, 9),
                           makeDateTime(2026, 12, 8, 0, 0, 0)),
              "2026年12月8日_0009");

    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, "shot"));
    EXPECT_EQ(
        makeFileStem(CaptureKind::Interval, withRule(NamingRule::CustomPrefix, 1234), morning_),
        "shot_【间断截图】_1234");
    EXPECT_EQ(makeFileStem(CaptureKind::Timed, withRule(NamingRule::FixedPrefix, 1), morning_),
              "Lumora截图贴士_【定时截图】_0001");
}

TEST_F(FileNamingTest, PadsTheNumberToFourCharacters) {
    const auto stem = [&](std::int64_t n) {
        return makeFileStem(CaptureKind::Manual, withRule(NamingRule::FixedPrefix, n), morning_);
    };
    EXPECT_EQ(stem(0), "Lumora截图贴士_0000");
    EXPECT_EQ(stem(42), "Lumora截图贴士_0042");
    EXPECT_EQ(stem(512), "Lumora截图贴士_0512");
    EXPECT_EQ(stem(999), "Lumora截图贴士_0999");
    EXPECT_EQ(stem(1000), "Lumora截图贴士_1000");
    EXPECT_EQ(stem(20480), "Lumora截图贴士_20480");
    EXPECT_EQ(stem(4294967296LL), "Lumora截图贴士_4294967296");
    // The sign leads the zeros, so the width stays four characters.
    EXPECT_EQ(stem(-1), "Lumora截图贴士_-001");
    EXPECT_EQ(stem(-1234), "Lumora截图贴士_-1234");
}

TEST_F(FileNamingTest, TheCustomPrefixIsReadAfreshWithItsOwnDefault) {
    CaptureSettings s = withRule(NamingRule::CustomPrefix, 5);
    s.customPrefix = "loaded";  // the settings window's copy; captures never use it
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, s, morning_), "木有_0005");

    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, "first"));
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, s, morning_), "first_0005");
    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, "second"));
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, s, morning_), "second_0005");

    // An empty stored prefix is what the store holds; the number still names the file.
    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, ""));
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, s, morning_), "_0005");
}

TEST_F(FileNamingTest, ACustomPrefixNeverLeavesTheCaptureFolder) {
    const CaptureSettings s = withRule(NamingRule::CustomPrefix, 1);
    const auto stemFor = [&](std::string_view prefix) {
        EXPECT_TRUE(settings::writeText(settings::Option::CustomPrefix, prefix));
        return makeFileStem(CaptureKind::Manual, s, morning_);
    };
    EXPECT_EQ(stemFor("../up"), "..／up_0001");
    EXPECT_EQ(stemFor("/tmp/x"), "／tmp／x_0001");
    EXPECT_EQ(stemFor("sub/"), "sub／_0001");
    // A backslash is an ordinary character of a Linux file name.
    EXPECT_EQ(stemFor("sub\\x"), "sub\\x_0001");

    const std::string withNul = stemFor(std::string_view("a\0b", 3));
    EXPECT_EQ(withNul.find('\0'), std::string::npos);
    EXPECT_EQ(withNul.find('/'), std::string::npos);
}

TEST_F(FileNamingTest, AnOverlongPrefixIsCutAtACharacterSoTheNameFits) {
    std::string longPrefix;
    for (int i = 0; i < 120; ++i)
        longPrefix += "截";  // 360 bytes
    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, longPrefix));

    const std::string stem =
        makeFileStem(CaptureKind::Interval, withRule(NamingRule::CustomPrefix, 77), morning_);
    const std::string suffix = std::string(kIntervalTag) + "_0077";
    ASSERT_LE(stem.size(), kMaxStemBytes);
    ASSERT_GT(stem.size(), kMaxStemBytes - 3);  // no more cut than one character needs
    ASSERT_EQ(stem.substr(stem.size() - suffix.size()), suffix);
    const std::size_t prefixBytes = stem.size() - suffix.size();
    EXPECT_EQ(prefixBytes % 3, 0u);
    EXPECT_EQ(stem.substr(0, prefixBytes), longPrefix.substr(0, prefixBytes));

    // A prefix that fits exactly is kept whole.
    const std::string fitting(kMaxStemBytes - 5, 'a');
    ASSERT_TRUE(settings::writeText(settings::Option::CustomPrefix, fitting));
    EXPECT_EQ(makeFileStem(CaptureKind::Manual, withRule(NamingRule::CustomPrefix, 1), morning_),
              fitting + "_0001");
}

TEST_F(FileNamingTest, TheProcessWideFormUsesTheRecordAndTheClock) {
    CaptureSettings& s = captureSettings();
    const CaptureSettings saved = s;
    s.namingRule = NamingRule::FixedPrefix;
    s.captureCounter = 7;
    EXPECT_EQ(makeFileStem(CaptureKind::Manual), "Lumora截图贴士_0007");

    s.namingRule = NamingRule::CurrentTime;
    s.captureCounter = 3;
    const std::string before = platform::timeToText(platform::now());
    const std::string stem = makeFileStem(CaptureKind::Timed);
    const std::string after = platform::timeToText(platform::now());
    const std::string suffix = std::string(kTimedTag) + "_0003";
    EXPECT_TRUE(stem == before + suffix || stem == after + suffix) << stem;
    s = saved;
}

}  // namespace
}  // namespace lumora::capture
