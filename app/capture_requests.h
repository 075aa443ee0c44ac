#pragma once
// Captures asked for by other programs: the running instance offers them on the session bus,
// and `lumora --capture` asks for them there, so every capture of a user's session is numbered
// by one process.
#include <string>

#include "app/command_line.h"

namespace lumora::app {

inline constexpr char kBusName[] = "io.lumora.Lumora";
inline constexpr char kObjectPath[] = "/io/lumora/Lumora";
inline constexpr char kInterface[] = "io.lumora.Lumora";
// The error a request gets when its capture was not saved; the message says why.
inline constexpr char kNotSavedError[] = "io.lumora.Lumora.Error.NotSaved";
// Why a window capture asked for by another program is not made: there is no window to take,
// and a picture of the screen in its place would pass for one.
inline constexpr char kNoFocusedWindow[] = "no window has the focus";

// The running instance: offers CaptureScreen() and CaptureWindow() under kBusName. Each
// returns the saved file's full path once the file is complete, or kNotSavedError with the
// cause. Also ShowWindow(): the main window shown (restored when minimised), raised and
// focused. Returns empty when the methods are offered, else why not.
std::string offerCaptureRequests();

// The other side. `Gone` means nobody holds kBusName (an instance still starting, or one that
// just ended); `NoBus` that the session bus cannot be reached.
struct RequestAnswer {
    enum Status { Saved, NotSaved, Gone, NoBus, Failed } status = Failed;
    std::string text;  // the path, or the cause
};
RequestAnswer requestCapture(CaptureTarget target);
// Where a running instance that does not answer was asked, for the command's message in the
// system's own words ("on the session bus under io.lumora.Lumora").
std::string whereRequestsGo();
// A second start's call of ShowWindow(); true when the running instance answered.
bool askRunningInstanceToShowWindow();

}  // namespace lumora::app
