#include "bench/bench_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/image_encoding.h"
#include "platform/snapshot.h"

namespace lumora::bench {

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumora-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot create a scratch folder");
    path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool captureBmp(const std::string& bmpPath) {
    const platform::SnapshotImage image = platform::takeSnapshot(0, 0, 0);
    return !image.empty() && platform::writeFileBytes(bmpPath, image);
}

bool captureJpg(const std::string& tempBmpPath, const std::string& jpgPath) {
    const platform::SnapshotImage image = platform::takeSnapshot(0, 0, 0);
    if (image.empty() || !platform::writeFileBytes(tempBmpPath, image))
        return false;
    const int result = platform::convertBmpToJpg(tempBmpPath, jpgPath, false, 75, true, 0);
    ::unlink(tempBmpPath.c_str());
    return result == platform::kConvertOk;
}

}  // namespace lumora::bench
