#pragma once
// The two capture paths the program runs, reduced to the platform calls, so the benchmarks and
// the cost run time exactly the same work.
#include <string>

namespace lumora::bench {

// A scratch folder below $TMPDIR (or /tmp), removed at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string folder() const { return path_ + "/"; }

private:
    std::string path_;
};

// Snapshot of the whole screen written as a BMP file; false when any step failed.
bool captureBmp(const std::string& bmpPath);
// Snapshot -> JPEG (quality 75, optimised tables) from memory, written under a hidden name in
// `folder` (ending with "/") and given its final name, as the program's workers do; the file
// is removed again.
bool captureJpg(const std::string& folder);

}  // namespace lumora::bench
