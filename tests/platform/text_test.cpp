#include "platform/text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <optional>

#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

using Pieces = std::vector<std::string>;

TEST(SplitText, CutsAtEverySeparatorAndDropsOnlyAnEmptyTail) {
    EXPECT_EQ(splitText("a；b", "；"), (Pieces{"a", "b"}));
    EXPECT_EQ(splitText("a；；b", "；"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(splitText("a；b；", "；"), (Pieces{"a", "b"}));
    EXPECT_EQ(splitText("；a", "；"), (Pieces{"", "a"}));
    EXPECT_EQ(splitText("；", "；"), (Pieces{""}));
    EXPECT_EQ(splitText("；；", "；"), (Pieces{"", ""}));
    EXPECT_EQ(splitText("8：30；12：00", "：").size(), 3u);
    EXPECT_EQ(splitText("", "；"), Pieces{});
    EXPECT_EQ(splitText("abc", "；"), (Pieces{"abc"}));
    EXPECT_EQ(splitText("a,b,,c"), (Pieces{"a", "b", "", "c"}));
    // The separator is matched as a whole, however long.
    EXPECT_EQ(splitText("a<>b<c>", "<>"), (Pieces{"a", "b<c>"}));
    EXPECT_EQ(splitText("ab", "abc"), (Pieces{"ab"}));
    EXPECT_EQ(splitText("abc", ""), (Pieces{"abc"}));
}

TEST(SplitText, StopsAtTheMaximumNumberOfPieces) {
    EXPECT_EQ(splitText("a,b,c", ",", 2), (Pieces{"a", "b"}));
    EXPECT_EQ(splitText("a,b,c", ",", 1), (Pieces{"a"}));
    EXPECT_EQ(splitText("a,b,c", ",", 3), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(splitText("a,b,c", ",", 9), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(splitText(",,,", ",", 2), (Pieces{"", ""}));
    EXPECT_EQ(splitText("a,b", ",", 0), Pieces{});
    EXPECT_EQ(splitText("a,b", ",", -3), Pieces{});
    EXPECT_EQ(splitText("ab", "", 0), Pieces{});
}

TEST(SplitText, NeverMatchesInsideACharacter) {
    // "；" is EF BC 9B; "文" is E6 96 87.
    EXPECT_EQ(splitText("a；b", "\x9b"), (Pieces{"a；b"}));
    EXPECT_EQ(splitText("a；b", "\xbc\x9b"), (Pieces{"a；b"}));
    EXPECT_EQ(splitText("文文", "\x87\xe6"), (Pieces{"文文"}));
    EXPECT_EQ(splitText("文字；文", "字"), (Pieces{"文", "；文"}));
    EXPECT_EQ(splitText("𝄞x𝄞", "x"), (Pieces{"𝄞", "𝄞"}));
    // Bytes that start no character are stepped over one at a time, so a separator made of
    // such bytes still matches them.
    EXPECT_EQ(splitText("a\x9b"
                        "b",
                        "\x9b"),
              (Pieces{"a", "b"}));
    EXPECT_EQ(splitText("\xe6\x96,x", ","), (Pieces{"\xe6\x96", "x"}));
    EXPECT_EQ(splitText("\xe6\x96", "\x96"), (Pieces{"\xe6"}));
}

TEST(TextToNumber, ReadsTheLeadingNumberAfterFoldingFullWidthForms) {
    EXPECT_EQ(textToNumber("08"), 8);
    EXPECT_EQ(textToNumber("０８"), 8);
    EXPECT_EQ(textToNumber("８：３０"), 8);
    EXPECT_EQ(textToNumber("8.5"), 8.5);
    EXPECT_EQ(textToNumber("12x"), 12);
    EXPECT_EQ(textToNumber("abc"), 0);
    EXPECT_EQ(textToNumber("　7"), 7);
    EXPECT_EQ(textToNumber(""), 0);
    EXPECT_EQ(textToNumber(" \t-3"), -3);
    EXPECT_EQ(textToNumber("－３"), -3);
    EXPECT_EQ(textToNumber("＋２．５"), 2.5);
    EXPECT_EQ(textToNumber("１ｅ２"), 100);
    EXPECT_EQ(textToNumber("1e3s"), 1000);
    EXPECT_EQ(textToNumber(".5"), 0.5);
    EXPECT_EQ(textToNumber("0x1A"), 26);  // as atof reads it
    EXPECT_EQ(textToNumber("秒5"), 0);
    EXPECT_EQ(textToNumber(std::string_view("12\0"
                                            "3",
                                            4)),
              12);
    // The text need not end with a terminating zero.
    EXPECT_EQ(textToNumber(std::string_view("123", 2)), 12);
}

TEST(TextToNumber, GivesOnlyFiniteValues) {
    for (const char* word : {"nan", "NAN(1)", "inf", "-Infinity", "+inf"})
        EXPECT_EQ(textToNumber(word), 0) << word;
    EXPECT_EQ(textToNumber("1e999"), DBL_MAX);
    EXPECT_EQ(textToNumber("-1e999"), -DBL_MAX);
    EXPECT_EQ(textToNumber("1e-999"), 0);
}

TEST(TextToNumber, IgnoresTheUsersNumberFormat) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    // A German number format, compiled for this test when it is not installed.
    test::TempDir dir;
    std::optional<test::ScopedEnv> path;
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        if (test::runCommand("localedef -i de_DE -f UTF-8 '" + dir.path().string() +
                             "/de_DE.UTF-8' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no locale with a decimal comma";
        path.emplace("LOCPATH", dir.path().string());
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            GTEST_SKIP() << "no locale with a decimal comma";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(textToNumber("8.5"), 8.5);
    EXPECT_EQ(textToNumber("8,5"), 8);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TextLength, CountsBytes) {
    EXPECT_EQ(textLength(""), 0u);
    EXPECT_EQ(textLength("abc"), 3u);
    EXPECT_EQ(textLength("木有"), 6u);
    EXPECT_EQ(textLength(std::string_view("a\0b", 3)), 3u);
}

}  // namespace
}  // namespace lumora::platform
