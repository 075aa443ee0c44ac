#pragma once
// Start-up loading of every option into the process-wide CaptureSettings record.

namespace lumora::app {

// Reads the options in their fixed order. When the logo is on, the splash plays after the
// naming options, so captures during it use the values read so far. Starts the timed-capture
// timer (800 ms) and the interval timer (seconds x 1000 ms) of MainWindow when their modes
// are on.
void loadSettings();
// The same options in the same order for a process that captures once and ends: no splash, no
// timers, no window needed.
void loadSettingsQuietly();

}  // namespace lumora::app
