#include <malloc.h>

#include <mutex>

#include "platform/snapshot_bmp.h"

namespace lumora::platform::snapshot {

// glibc hands large freed blocks back to the kernel unless told otherwise.
void keepCaptureBuffersResident() {
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    });
}

}  // namespace lumora::platform::snapshot
