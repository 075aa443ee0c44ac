#pragma once
// Looking at and removing the files of one folder without ever following a link: what trimming
// old captures needs, where a link or a folder put in place of a capture must stay untouched.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::platform {

struct FolderEntry {
    // Other: a link (symbolic link, junction, any reparse point), a device, a pipe, ...
    enum class Kind { File, Folder, Other };
    std::string name;
    Kind kind = Kind::Other;
    std::uint64_t bytes = 0;    // files only
    std::int64_t modified = 0;  // files only: nanoseconds since 1970-01-01 00:00 UTC
};

// Where an entry lives: `folder` (followed as the person named it), and inside it `subfolder`,
// one name that is never followed when it is a link ("" for the folder itself).
struct FolderPlace {
    std::string folder;
    std::string subfolder;
};

// The entries of the place whose name `wanted` accepts, each looked at without following it;
// "." and ".." never. False when the place cannot be listed (missing, a link, not a folder).
bool listFolderEntries(const FolderPlace& place,
                       const std::function<bool(std::string_view name)>& wanted,
                       std::vector<FolderEntry>& entries);

// One entry of the place, not followed; nothing when it does not exist.
std::optional<FolderEntry> inspectFolderEntry(const FolderPlace& place, const std::string& name);

enum class RemoveOutcome {
    Removed,
    Gone,     // nothing of that name any more
    Changed,  // no longer a plain file of that size and time: left alone
    Failed,   // could not be removed (permissions, a read-only file, ...)
};
// Removes the entry only while it still is a plain file of `bytes` and `modified`, as indexed.
RemoveOutcome removeFileIfUnchanged(const FolderPlace& place, const std::string& name,
                                    std::uint64_t bytes, std::int64_t modified);

}  // namespace lumora::platform
