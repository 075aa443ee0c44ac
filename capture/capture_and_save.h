#pragma once
// The one pipeline every capture passes through: snapshot, file, sound, running number.
#include <functional>
#include <string>

#include "platform/types.h"
#include "settings/capture_settings.h"

namespace lumora::capture {

// Takes one snapshot of `window` (0: the whole primary screen) and saves it into the capture
// folder shown by the main window, as BMP or as JPG by the current settings; then plays the
// chosen shutter sound, stores the number this capture used and advances it. Shows nothing and
// reports nothing: a failure leaves a missing (or, for an empty snapshot in BMP, an empty)
// file. Never replaces an existing file: a taken name gets " (2)", " (3)", ... before the
// extension. GUI thread only.
//
// `done`, when given, learns how the capture ended: the path of the saved file, or why there is
// none. Callers that answer someone (a request from outside the program) wait for it.
struct CaptureOutcome {
    bool saved = false;
    std::string path;   // the complete file, when saved
    std::string error;  // a few words for a person, when not saved
};
using CaptureDone = std::function<void(const CaptureOutcome&)>;

void captureAndSave(platform::WindowHandle window = 0, CaptureKind kind = CaptureKind::Manual,
                    CaptureDone done = {});

}  // namespace lumora::capture
