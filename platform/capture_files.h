#pragma once
// Claiming names for capture output without ever opening a file that already exists: each
// name is created empty with O_CREAT|O_EXCL, so neither a user's file nor a file another
// writer made a moment earlier can be replaced.
#include <string>

namespace lumora::platform {

// Creates `base + extension`, or when that exists the first free of `base + " (2)" +
// extension`, `base + " (3)" + extension`, ... as an empty file and returns its path. Empty
// when no name could be created (missing or read-only folder, name too long, ...).
std::string createNewFile(const std::string& base, const std::string& extension);

// Creates folder + ".temp.bmp", or when that exists the first free ".temp-2.bmp",
// ".temp-3.bmp", ... in the folder, and returns its path; empty when none could be created.
// `folder` ends with "/".
std::string createTemporaryBmp(const std::string& folder);

}  // namespace lumora::platform
