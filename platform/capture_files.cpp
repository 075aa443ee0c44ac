#include "platform/capture_files.h"

#include <cerrno>
#include <cstring>

namespace lumora::platform {

// One table for every system: the loss report turns these texts into the person's language.
std::string fileErrorText(int errnoValue) {
    switch (errnoValue) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return "the disk is full";
        case ENOENT:
        case ENOTDIR:
            return "the folder does not exist";
        case EROFS:
            return "the folder is read-only";
        case EACCES:
        case EPERM:
            return "no permission to write in the folder";
        case ENAMETOOLONG:
            return "the file name is too long";
        // What a file system says of a name it cannot hold (FAT, NTFS and SMB refuse < > : ...).
        case EINVAL:
        case EILSEQ:
            return "the file name has characters the folder does not allow";
        case EIO:
            return "the disk reported an error";
        default:
            return std::strerror(errnoValue);
    }
}

}  // namespace lumora::platform
