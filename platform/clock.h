#pragma once
// The local clock as an OLE date-time value (days since 1899-12-30, fraction = time of day),
// and its fixed text form used in file names.
#include <cstdint>
#include <string>

namespace lumora::platform {

using DateTime = double;

// Local time now, whole seconds.
DateTime now();
// The date-time value of a local calendar time (for callers and tests that fix the clock).
DateTime makeDateTime(int year, int month, int day, int hour, int minute, int second);

// Fields of the value clamped to 0100-01-01 ... 9999-12-31.
int yearOf(DateTime t);
int monthOf(DateTime t);
int dayOf(DateTime t);
int hourOf(DateTime t);
int minuteOf(DateTime t);
int secondOf(DateTime t);

// "2026年12月7日2时6分42秒", "...2时6分", "...2时", or the date alone at midnight.
std::string timeToText(DateTime t);
// Plain decimal, minus sign when negative, never padded.
std::string numberToText(std::int64_t n);

}  // namespace lumora::platform
