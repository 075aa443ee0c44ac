#pragma once
// Capture files: written under a hidden name of the program's own, through the descriptor
// that created it, and named only when complete, never replacing an existing file.
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumora::platform {

// A capture file being written: created under a hidden name of the program's own pattern
// (".lumora-<pid>-<sequence>.part") in the capture folder, written only through the
// descriptor that created it, and given its final name only when complete. A kill at any
// moment leaves no partial picture under a capture's name, only a hidden leftover that
// removeLeftoverPartFiles clears at the next start. Any thread; one object per file.
class PartFile {
public:
    PartFile() = default;
    ~PartFile();  // removes the hidden file unless it was published
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Creates the hidden file in `folder` (ending with the separator), or in its sub-folder
    // `subfolder` (a single name), which is made when missing. The sub-folder is never reached
    // through a link: a link, or anything else that is not a plain folder, at that name fails,
    // so nothing is written outside `folder`. False with error() set when the folder cannot
    // take the file.
    bool create(const std::string& folder, unsigned long sequence,
                const std::string& subfolder = {});
    // The descriptor to write through; -1 before create.
    int descriptor() const { return fd_; }
    bool write(const std::uint8_t* data, std::size_t size);
    // Gives the complete file the first free name of `base + extension`, `base + " (2)" +
    // extension`, ... inside the folder (`base` is a name, not a path), never replacing a
    // file, and returns the path; empty with error() set when it could not. Whatever name the
    // hidden file has by then, the published file is the one written through descriptor().
    std::string publish(const std::string& base, const std::string& extension);
    // Takes the reason of a failed write made through descriptor() by someone else.
    void noteFailure(int errnoValue);

    // Why the last step failed, in a few words for a person ("the disk is full", ...).
    const std::string& error() const { return error_; }

private:
    void fail(int errnoValue);

    std::string folder_;  // where the file is, sub-folder included
    int dirFd_ = -1;
    void* dirHandle_ = nullptr;  // Windows: the sub-folder, held open so it cannot be swapped
    int fd_ = -1;
    std::string name_;
    bool published_ = false;
    std::string error_;
};

// Removes ".lumora-<pid>-<n>.part" files of `folder` whose process no longer runs, and nothing
// else: not the files of a running instance, not names that only look alike. Returns how many
// were removed.
// With `subfolder`, in that sub-folder of `folder`, when it is a plain folder (never a link).
int removeLeftoverPartFiles(const std::string& folder, const std::string& subfolder = {});

// What a capture into a sub-folder that is a link (or not a folder) fails with.
inline constexpr const char* kSubfolderNotPlain = "the day folder is a link or not a folder";

// A few words for a person about a failed file operation (errno value).
std::string fileErrorText(int errnoValue);

}  // namespace lumora::platform
