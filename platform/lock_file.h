#pragma once
// Advisory locks on files of fixed names (the store's writers, the one running instance).
#include <string>

namespace lumora::platform {

// Opens (creating it when missing, mode 0600) the regular file at `path` and takes an
// exclusive flock on it, waiting at most `waitMs` for another holder. The file is never
// reached through a link; whatever else sits at the name (a FIFO, a link, a device left by an
// earlier run or by anyone) is removed unopened, so it is never waited on and never followed.
// Returns the descriptor that holds the lock (close-on-exec; closing it releases the lock), or
// -1 with errno EWOULDBLOCK when another holder kept it, or another errno when the file cannot
// be made (a folder at the name, a folder that cannot be written).
int lockFile(const std::string& path, int waitMs);

}  // namespace lumora::platform
