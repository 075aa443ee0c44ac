#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

namespace lumora::platform {
namespace {

struct Expect {
    int year, month, day, hour, minute, second;
};

void expectFields(DateTime t, Expect e) {
    EXPECT_EQ(yearOf(t), e.year) << t;
    EXPECT_EQ(monthOf(t), e.month) << t;
    EXPECT_EQ(dayOf(t), e.day) << t;
    EXPECT_EQ(hourOf(t), e.hour) << t;
    EXPECT_EQ(minuteOf(t), e.minute) << t;
    EXPECT_EQ(secondOf(t), e.second) << t;
}

TEST(Clock, TimeTextDropsTrailingZeroFields) {
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 2, 6, 42)), "2026年12月7日2时6分42秒");
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 2, 6, 0)), "2026年12月7日2时6分");
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 2, 0, 0)), "2026年12月7日2时");
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 0, 0, 0)), "2026年12月7日");
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 0, 0, 5)), "2026年12月7日0时0分5秒");
    EXPECT_EQ(timeToText(makeDateTime(2026, 12, 7, 14, 30, 5)), "2026年12月7日14时30分5秒");
    EXPECT_EQ(timeToText(makeDateTime(2026, 1, 1, 0, 7, 0)), "2026年1月1日0时7分");
}

TEST(Clock, ValuesFollowTheDayCountConvention) {
    EXPECT_EQ(makeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(makeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_EQ(makeDateTime(2026, 12, 7, 0, 0, 0), 46363.0);
    EXPECT_DOUBLE_EQ(makeDateTime(2026, 12, 7, 12, 0, 0), 46363.5);
    // Before day 0 the whole days count back and the time of day still counts forward.
    EXPECT_DOUBLE_EQ(makeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
    expectFields(-1.25, {1899, 12, 29, 6, 0, 0});
    expectFields(-0.25, {1899, 12, 30, 6, 0, 0});
    expectFields(makeDateTime(1600, 2, 29, 23, 59, 59), {1600, 2, 29, 23, 59, 59});
    // Fields beyond their range carry over.
    EXPECT_EQ(makeDateTime(2026, 13, 1, 0, 0, 0), makeDateTime(2027, 1, 1, 0, 0, 0));
    EXPECT_EQ(makeDateTime(2026, 0, 1, 0, 0, 0), makeDateTime(2025, 12, 1, 0, 0, 0));
    EXPECT_EQ(makeDateTime(2026, 12, 31, 23, 59, 60), makeDateTime(2027, 1, 1, 0, 0, 0));
    EXPECT_EQ(makeDateTime(2024, 2, 30, 0, 0, 0), makeDateTime(2024, 3, 1, 0, 0, 0));
}

TEST(Clock, EverySecondSurvivesTheDoubleAcrossTheWholeRange) {
    int checked = 0;
    for (int year = 100; year <= 9999; year += 37) {
        for (int month = 1; month <= 12; month += 5) {
            const int day = 1 + (year * 7 + month) % 28;
            const int second = (year * 7919 + month * 104729) % 86400;
            const Expect e{year, month, day, second / 3600, second / 60 % 60, second % 60};
            const DateTime t = makeDateTime(year, month, day, e.hour, e.minute, e.second);
            expectFields(t, e);
            // A value computed elsewhere may sit a hair below the exact second.
            expectFields(std::nextafter(t, -1e9), e);
            expectFields(std::nextafter(t, 1e9), e);
            ++checked;
        }
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(checked, 700);
    // Just below midnight rounds up into the next day, not to second 60.
    expectFields(46363.0 + 86399.9999 / 86400.0, {2026, 12, 8, 0, 0, 0});
}

TEST(Clock, FieldsAreClampedToYears100To9999) {
    expectFields(-657434.0, {100, 1, 1, 0, 0, 0});
    expectFields(-1e12, {100, 1, 1, 0, 0, 0});
    expectFields(-std::numeric_limits<double>::infinity(), {100, 1, 1, 0, 0, 0});
    expectFields(2958465.0, {9999, 12, 31, 0, 0, 0});
    expectFields(makeDateTime(9999, 12, 31, 23, 59, 59), {9999, 12, 31, 23, 59, 59});
    expectFields(1e12, {9999, 12, 31, 23, 59, 59});
    expectFields(std::numeric_limits<double>::infinity(), {9999, 12, 31, 23, 59, 59});
    expectFields(std::nan(""), {1899, 12, 30, 0, 0, 0});
    EXPECT_EQ(timeToText(1e300), "9999年12月31日23时59分59秒");
}

TEST(Clock, NowIsTheLocalTimeInWholeSeconds) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const DateTime t = now();
        if (std::time(nullptr) != before)
            continue;  // a second passed in between: try again
        std::tm local{};
        ASSERT_TRUE(localtime_r(&before, &local));
        expectFields(t, {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec});
        EXPECT_EQ(t, makeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec));
        return;
    }
    FAIL() << "the clock moved on during every attempt";
}

TEST(Clock, NumbersAsPlainDecimals) {
    EXPECT_EQ(numberToText(0), "0");
    EXPECT_EQ(numberToText(7), "7");
    EXPECT_EQ(numberToText(-42), "-42");
    EXPECT_EQ(numberToText(4294967297), "4294967297");
    EXPECT_EQ(numberToText(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(numberToText(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

}  // namespace
}  // namespace lumora::platform
