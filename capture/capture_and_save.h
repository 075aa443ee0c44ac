#pragma once
// The one pipeline every capture passes through: snapshot, file, sound, running number.
#include <functional>
#include <string>

#include "platform/types.h"
#include "settings/capture_settings.h"

namespace lumora::capture {

// Takes one snapshot of `window` (0: the whole primary screen) for the capture folder shown by
// the main window, as BMP or as JPG by the current settings. The name, the number (stored as
// `N` and advanced) and the folder are fixed now; the picture is encoded and written by a
// worker thread, under a hidden name first, and gets its final name only when complete, so
// the GUI thread never waits for an encode. When the file is complete the chosen shutter
// sound plays; when it cannot be, no sound plays, no file is left and the loss is reported
// (capture/loss_report.h). An empty snapshot is a loss too. Never replaces an existing file:
// a taken name gets " (2)", " (3)", ... before the extension. GUI thread only.
//
// `done`, when given, learns how the capture ended: the path of the complete file, or why
// there is none. It is called once, on the GUI thread, after this call has returned, and
// captures are told in the order they were asked for.
struct CaptureOutcome {
    bool saved = false;
    std::string path;      // the complete file, when saved
    std::string error;     // a few words for a person, when not saved
    bool skipped = false;  // a scheduled capture not taken on purpose: no file, no number
};
using CaptureDone = std::function<void(const CaptureOutcome&)>;

void captureAndSave(platform::WindowHandle window = 0, CaptureKind kind = CaptureKind::Manual,
                    CaptureDone done = {});

// Waits until every file being written is complete (or lost) and tells every capture not yet
// told; a capture whose picture has not arrived yet is told as lost. Run at program end, and by
// callers that look at the files right after capturing. GUI thread only.
void finishPendingCaptures();

// Lets pictures the desktop still owes (a portal answers later) arrive, processing events for at
// most `milliseconds`: at the end of the program, before finishPendingCaptures, so that a
// capture asked for before the end is kept. GUI thread only.
void awaitPendingPictures(int milliseconds);

// Removes the hidden files that captures of an ended process left in `folder` (a kill during
// a write), in the background. The pipeline does this by itself the first time it writes to a
// folder; start-up calls it for the folder it shows.
void tidyCaptureFolder(const std::string& folder);

}  // namespace lumora::capture
