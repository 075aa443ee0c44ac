// Matching the timed-capture list against the clock.
#include "capture/schedule.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

using lumora::capture::matchTimeList;
using lumora::platform::makeDateTime;

namespace {

const auto at0830 = makeDateTime(2026, 12, 7, 8, 30, 0);

TEST(MatchTimeList, FullWidthEntryMatchesItsSecondOnly) {
    EXPECT_EQ(matchTimeList("8：30：00", at0830), 1);
    EXPECT_EQ(matchTimeList("08：30：00", at0830), 1);
    EXPECT_EQ(matchTimeList("8：30：00", makeDateTime(2026, 12, 7, 8, 30, 1)), 0);
    EXPECT_EQ(matchTimeList("8：30：00", makeDateTime(2026, 12, 7, 8, 29, 59)), 0);
    EXPECT_EQ(matchTimeList("8：30：00", makeDateTime(2026, 12, 7, 20, 30, 0)), 0);
    // The date plays no part.
    EXPECT_EQ(matchTimeList("8：30：00", makeDateTime(1999, 1, 1, 8, 30, 0)), 1);
}

TEST(MatchTimeList, EveryMatchingEntryCounts) {
    EXPECT_EQ(matchTimeList("8：30：00；8：30：00", at0830), 2);
    EXPECT_EQ(matchTimeList("7：00：00；8：30：00；17：45：30", at0830), 1);
    EXPECT_EQ(matchTimeList("7：00：00；17：45：30", at0830), 0);
    EXPECT_EQ(matchTimeList("17：45：30；8：30：0", makeDateTime(2026, 12, 7, 17, 45, 30)), 1);
}

TEST(MatchTimeList, AsciiSeparatorsAreNotSeparators) {
    EXPECT_EQ(matchTimeList("8:30:00", at0830), 0);
    EXPECT_EQ(matchTimeList("8：30:00", at0830), 0);
    EXPECT_EQ(matchTimeList("8：30：00;8：30：00", at0830),
              0);  // one entry of four parts? no: "00;8" reads 0
    EXPECT_EQ(matchTimeList("8:30:00；8：30：00", at0830), 1);
}

TEST(MatchTimeList, EmptyPiecesFollowTheSplittingRules) {
    EXPECT_EQ(matchTimeList("8：30：00：", at0830), 1);  // empty piece after the last separator
    EXPECT_EQ(matchTimeList("8：30：00；", at0830), 1);
    EXPECT_EQ(matchTimeList("8：30：00；；", at0830), 1);
    EXPECT_EQ(matchTimeList("；8：30：00", at0830), 1);
    EXPECT_EQ(matchTimeList("8：30", at0830), 0);
    EXPECT_EQ(matchTimeList("8：30：00：00", at0830), 0);
    EXPECT_EQ(matchTimeList("8：：00", makeDateTime(2026, 12, 7, 8, 0, 0)), 1);
    EXPECT_EQ(matchTimeList("8：：00", at0830), 0);
    EXPECT_EQ(matchTimeList("", at0830), 0);
    EXPECT_EQ(matchTimeList("", makeDateTime(2026, 12, 7, 0, 0, 0)), 0);
}

TEST(MatchTimeList, PartsAreReadAsNumbers) {
    EXPECT_EQ(matchTimeList("８：３０：００", at0830), 1);  // full-width digits fold to ASCII
    EXPECT_EQ(matchTimeList("8.5：30：00", at0830), 0);
    EXPECT_EQ(matchTimeList("8.5：30：00", makeDateTime(2026, 12, 7, 8, 30, 0)), 0);
    EXPECT_EQ(matchTimeList("8.00000001：30：00", at0830), 1);  // within the tolerance
    EXPECT_EQ(matchTimeList("8.001：30：00", at0830), 0);
    EXPECT_EQ(matchTimeList(" 8：30：00", at0830), 1);
    EXPECT_EQ(matchTimeList("8时：30分：00秒", at0830), 1);  // the leading number counts
    // Parts without a number count as 0, so such an entry names midnight.
    EXPECT_EQ(matchTimeList("a：b：c", makeDateTime(2026, 12, 7, 0, 0, 0)), 1);
    EXPECT_EQ(matchTimeList("a：b：c", at0830), 0);
}

TEST(MatchTimeList, NonFiniteNumbersNeverMatch) {
    // Neither NaN nor an overflowing part may slip through the tolerance test and capture at
    // every second.
    for (int h : {8, 23}) {
        const auto clock = makeDateTime(2026, 12, 7, h, 0, 0);
        EXPECT_EQ(matchTimeList("nan：nan：nan", clock), 0);
        EXPECT_EQ(matchTimeList("nan：0：0", clock), 0);
        EXPECT_EQ(matchTimeList("inf：0：0", clock), 0);
        EXPECT_EQ(matchTimeList("-inf：0：0", clock), 0);
        EXPECT_EQ(matchTimeList("1e400：0：0", clock), 0);
        EXPECT_EQ(matchTimeList("8：1e400：nan", clock), 0);
    }
}

TEST(MatchTimeList, TextAroundMultiByteCharactersIsNeverCutInside) {
    // "：" and "；" share their first two UTF-8 bytes with other full-width forms.
    EXPECT_EQ(matchTimeList("8：30：00＞", at0830), 1);
    EXPECT_EQ(matchTimeList("8＞30＞00", at0830), 0);
    EXPECT_EQ(matchTimeList("时：30：00", makeDateTime(2026, 12, 7, 0, 30, 0)), 1);
}

}  // namespace
