#pragma once
// `lumora --capture screen|window [--delay SECONDS]`: one capture for a shortcut, a script or a
// launcher's action, made by the running instance when there is one, else by this process.
#include <string>

#include "app/command_line.h"

namespace lumora::app {

// Whether an instance of the program runs on this user's settings store, so the command must
// ask it. When none does, this process takes the instance lock, so that nothing else takes
// numbers while it captures.
bool instanceRunning();

// No instance runs: this process is the instance for one capture, with the options and the
// capture folder a started one would have (app/qt/capture_here.cpp: it needs Qt).
int captureHere(CaptureTarget target, int argc, char** argv);
using CaptureHere = int (*)(CaptureTarget target, int argc, char** argv);

// Runs the command and returns the exit code: 0 with the saved file's path on standard
// output, 1 with one line on standard error when nothing was saved. A running instance is
// asked over the session bus, with no Qt object made here; else `here` captures.
int runCaptureCommand(const Command& command, int argc, char** argv,
                      CaptureHere here = &captureHere);

// The command's two outcomes: the path on standard output (0), the cause on standard error (1).
int reportSaved(const std::string& path);
int reportFailed(const std::string& cause);

}  // namespace lumora::app
