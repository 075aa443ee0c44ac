#include "bench/bench_support.h"

#include "platform/capture_files.h"

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

bool captureJpg(const std::string& folder) {
    const platform::SnapshotImage image = platform::takeSnapshot(0, 0, 0);
    platform::PartFile file;
    if (image.empty() || !file.create(folder, 1) ||
        platform::writeJpegFromBmpImage(image, file.descriptor(), 75, true) != platform::kConvertOk)
        return false;
    const std::string path = file.publish("capture", ".jpg");
    // Removed again so every round names its file the same way.
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

}  // namespace lumora::bench
