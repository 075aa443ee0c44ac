#pragma once
// SIGTERM, SIGHUP and SIGINT (log-out, shut-down, Ctrl+C in a terminal) as requests to end,
// served by the program's own loop rather than ending the process where it stands.
namespace lumora::platform::posix {

// Catches the three signals from now on. The first one is written to a pipe (self-pipe: the
// handler only writes a byte) whose read end, non-blocking and close-on-exec, is returned for
// the event loop to watch; a second one while the program ends ends the process at once, as
// the signal itself would. -1 (and the signals left as they were) when no pipe can be made.
// Programs started later get the default actions back, as exec resets caught signals.
int catchTerminationSignals();

// The signal waiting on `fd`, or 0 when none is.
int takeTerminationSignal(int fd);

}  // namespace lumora::platform::posix
