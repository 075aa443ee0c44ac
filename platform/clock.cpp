#include "platform/clock.h"

#include <cmath>
#include <ctime>

namespace lumora::platform {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Day 0 of the date-time value, 1899-12-30, counted from 1970-01-01.
constexpr std::int64_t kEpochOffset = -25569;
// Negative values count whole days back from day 0 and add the time of day forward, so every
// second of 0100-01-01 lies in [-657434.99999, -657434], and values below clamp to its start.
constexpr double kFirstDay = -657434.0;
constexpr double kBelowFirstDay = -(657434.0 + 86399.0 / 86400.0);
constexpr double kHighest = 2958465.0 + 86399.0 / 86400.0;  // 9999-12-31 23:59:59

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = floorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Fields {
    int year, month, day, hour, minute, second;
};

Fields civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), 0, 0, 0};
}

Fields split(DateTime t) {
    if (std::isnan(t))
        t = 0;
    if (t < kBelowFirstDay)
        t = kFirstDay;
    if (t > kHighest)
        t = kHighest;
    double whole;
    const double fraction = std::modf(t, &whole);
    auto day = static_cast<std::int64_t>(whole);
    // Rounded to whole seconds before splitting, so 14:30:05 stored as 14:30:04.9999 reads back.
    auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(fraction) * kSecondsPerDay));
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        ++day;
    }
    Fields f = civilFromDays(day + kEpochOffset);
    f.hour = static_cast<int>(seconds / 3600);
    f.minute = static_cast<int>(seconds / 60 % 60);
    f.second = static_cast<int>(seconds % 60);
    return f;
}

}  // namespace

DateTime now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    return makeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

DateTime makeDateTime(int year, int month, int day, int hour, int minute, int second) {
    // Out-of-range fields carry over (month 13 is January of the next year, second 60 the next
    // minute), as mktime does.
    const std::int64_t monthsFromJanuary = std::int64_t{month} - 1;
    const std::int64_t y = year + floorDiv(monthsFromJanuary, 12);
    const auto m =
        static_cast<unsigned>(monthsFromJanuary - floorDiv(monthsFromJanuary, 12) * 12 + 1);
    const std::int64_t total = (daysFromCivil(y, m, 1) + day - 1 - kEpochOffset) * kSecondsPerDay +
                               std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
    const std::int64_t days = floorDiv(total, kSecondsPerDay);
    const double fraction = static_cast<double>(total - days * kSecondsPerDay) / kSecondsPerDay;
    const auto d = static_cast<double>(days);
    return days >= 0 ? d + fraction : d - fraction;
}

int yearOf(DateTime t) {
    return split(t).year;
}
int monthOf(DateTime t) {
    return split(t).month;
}
int dayOf(DateTime t) {
    return split(t).day;
}
int hourOf(DateTime t) {
    return split(t).hour;
}
int minuteOf(DateTime t) {
    return split(t).minute;
}
int secondOf(DateTime t) {
    return split(t).second;
}

std::string timeToText(DateTime t) {
    const Fields f = split(t);
    std::string text = std::to_string(f.year) + "年" + std::to_string(f.month) + "月" +
                       std::to_string(f.day) + "日";
    if (f.second != 0) {
        text += std::to_string(f.hour) + "时" + std::to_string(f.minute) + "分" +
                std::to_string(f.second) + "秒";
    } else if (f.minute != 0) {
        text += std::to_string(f.hour) + "时" + std::to_string(f.minute) + "分";
    } else if (f.hour != 0) {
        text += std::to_string(f.hour) + "时";
    }
    return text;
}

std::string numberToText(std::int64_t n) {
    return std::to_string(n);
}

}  // namespace lumora::platform
