#pragma once
// Trimming old scheduled captures: those older than the days to keep, and the oldest beyond the
// megabytes to keep. Only files whose names say a timed or an interval capture wrote them are
// ever removed, in the capture folder and its day folders; manual captures, other files,
// folders and links stay. Each capture folder is listed once and then kept in an index that
// every saved capture updates, so a check costs little however many files the folder holds;
// listing and removing run on a thread of their own.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/folder_entries.h"

namespace lumora::capture {

// A name a timed or an interval capture gets: any prefix, the tag, the number, the " (2)" a
// taken name gets, and the extension: "..._【定时截图】_0042 (2).jpg".
bool isScheduledCaptureName(std::string_view name);
// A day folder's name: "2026-12-08".
bool isDayFolderName(std::string_view name);

struct RetentionLimits {
    int keepDays = 0;       // 0: for ever
    int keepMegabytes = 0;  // 0: no limit; a megabyte is 1024 * 1024 bytes
    bool any() const { return keepDays > 0 || keepMegabytes > 0; }
};

// The scheduled captures of one capture folder, oldest first. Not thread-safe.
class RetentionIndex {
public:
    explicit RetentionIndex(std::string folder);

    const std::string& folder() const { return folder_; }
    // Lists the folder and its day folders afresh.
    void scan();
    // Adds the file at `path` (inside the folder or one of its day folders) when its name marks a
    // scheduled capture; anything else is ignored.
    void add(std::string_view path);
    // Removes, oldest first, what is older than the days to keep (by `now`, nanoseconds since
    // 1970) and what goes beyond the megabytes to keep; the newest capture always stays. Returns
    // how many files were removed.
    std::size_t enforce(RetentionLimits limits, std::int64_t now);

    std::size_t size() const { return entries_.size(); }
    std::uint64_t bytes() const { return bytes_; }

private:
    struct Entry {
        std::int64_t modified = 0;
        std::uint64_t bytes = 0;
        std::string subfolder;  // "" or a day folder
        std::string name;
    };
    void insert(Entry entry);
    void scanPlace(const std::string& subfolder);

    std::string folder_;
    std::deque<Entry> entries_;  // by modification time, then arrival
    std::uint64_t bytes_ = 0;
};

// GUI thread. At start-up, for the folder it shows: lists it in the background and trims it by
// the current settings.
void checkRetention(const std::string& folder);
// GUI thread, for every saved capture: `path` is the complete file, `folder` the capture folder
// it was saved for (the file lies in it or in one of its day folders). A scheduled capture joins
// the folder's index, which is then trimmed by the current settings, in the background.
void noteSavedCapture(const std::string& folder, const std::string& path);
// Waits until the background work asked for so far is done (program end, tests).
void finishRetention();

}  // namespace lumora::capture
