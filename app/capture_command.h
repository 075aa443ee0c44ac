#pragma once
// `lumora --capture screen|window [--delay SECONDS]`: one capture for a shortcut, a script or a
// launcher's action, made by the running instance when there is one, else by this process.
#include "app/command_line.h"

namespace lumora::app {

// Whether an instance of the program is running beside this process, so the command must ask
// it. The one place that decides it, so the way instances are recognised can change without
// the command.
bool instanceRunning();

// Runs the command and returns the exit code: 0 with the saved file's path on standard
// output, 1 with one line on standard error when nothing was saved.
int runCaptureCommand(const Command& command, int argc, char** argv);

}  // namespace lumora::app
