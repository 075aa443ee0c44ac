#pragma once
// Telling a person that captures are being lost, without flooding the screen: a loss whose
// cause differs from the last one's (or the first after a success) shows a tray message and
// writes one line on standard error at once; while the cause stays the same, the losses are
// told again at most once a minute, with how many there were since. Captures that were not
// saved and running numbers that could not be stored are two separate runs. GUI thread only.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace lumora::capture {

// A capture numbered `number` that has no file in `folder`, for `reason` ("the disk is full").
void reportCaptureLost(const std::string& folder, std::int64_t number, const std::string& reason);
// A capture that was saved: ends a run of losses.
void reportCaptureSaved();

// The running number `number` could not be stored, so a later start may use it again.
void reportCounterNotStored(std::int64_t number);
void reportCounterStored();

// Off: the standard-error line is left out (a caller that prints its own line about the
// capture, such as a one-off capture from the command line). The tray message stays.
void setLossReportOnStandardError(bool on);

// The clock the minute is measured with (tests); an empty function restores the steady clock.
void setLossReportClock(std::function<std::chrono::steady_clock::time_point()> clock);

}  // namespace lumora::capture
