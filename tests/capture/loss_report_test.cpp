// Loss reports across causes and time: a new cause is told at once, the same cause again only
// after a minute and with a count, a success starts afresh. Read from the standard-error lines,
// which accompany every tray message.
#include "capture/loss_report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumora::capture::reportCaptureLost;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(LossReport, ToldPerCauseAndOnceAMinuteWithACount) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    lumora::capture::setLossReportClock([&now] { return now; });
    ::testing::internal::CaptureStderr();
    reportCaptureLost("/gone/", 1, "the folder does not exist");  // told
    reportCaptureLost("/gone/", 2, "the folder does not exist");  // same cause: quiet
    reportCaptureLost("/full/", 3, "the disk is full");           // new cause: told
    now += 30s;
    reportCaptureLost("/full/", 4, "the disk is full");
    now += 31s;
    reportCaptureLost("/full/", 5, "the disk is full");  // a minute on: 2 told
    reportCaptureLost("/full/", 6, "the disk is full");
    lumora::capture::reportCaptureSaved();
    reportCaptureLost("/full/", 7, "the disk is full");  // after a success: told
    lumora::capture::reportCounterNotStored(8);
    lumora::capture::reportCounterNotStored(9);
    now += 2min;
    lumora::capture::reportCounterNotStored(10);
    const auto told = lines(::testing::internal::GetCapturedStderr());
    lumora::capture::setLossReportClock({});
    ASSERT_EQ(told.size(), 6u) << ::testing::PrintToString(told);
    EXPECT_EQ(told[0], "lumora: capture 1 was not saved in /gone/: the folder does not exist");
    EXPECT_EQ(told[1], "lumora: capture 3 was not saved in /full/: the disk is full");
    EXPECT_EQ(told[2],
              "lumora: 2 more captures, the last one 5, were not saved in /full/: "
              "the disk is full");
    EXPECT_EQ(told[3], "lumora: capture 7 was not saved in /full/: the disk is full");
    EXPECT_NE(told[4].find("number 8 could not be stored"), std::string::npos);
    EXPECT_NE(told[5].find("number 10 could not be stored in the settings store (2 times"),
              std::string::npos);
}

}  // namespace
