#include "capture/retention.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/file_naming.h"
#include "platform/files.h"
#include "settings/capture_settings.h"

namespace lumora::capture {

namespace {

using platform::FolderEntry;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// Takes `suffix` off the end of `text` when it is there.
bool cutSuffix(std::string_view& text, std::string_view suffix) {
    if (text.size() < suffix.size() || text.substr(text.size() - suffix.size()) != suffix)
        return false;
    text.remove_suffix(suffix.size());
    return true;
}

// " (2)", " (3)", ...: what the pipeline adds to a name already taken.
void cutTakenNameSuffix(std::string_view& text) {
    if (text.empty() || text.back() != ')')
        return;
    const std::size_t open = text.rfind(" (");
    if (open == std::string_view::npos)
        return;
    const std::string_view digits = text.substr(open + 2, text.size() - open - 3);
    if (allDigits(digits) && digits.front() != '0' && !(digits.size() == 1 && digits[0] < '2'))
        text = text.substr(0, open);
}

// "_0042", "_12345", "_-001": the number padded to at least four characters, sign included.
bool cutNumberText(std::string_view& text) {
    std::size_t start = text.size();
    while (start > 0 && isDigit(text[start - 1]))
        --start;
    std::size_t width = text.size() - start;
    if (width == 0)
        return false;
    if (start > 0 && text[start - 1] == '-') {
        --start;
        ++width;
    }
    if (width < 4 || start == 0 || text[start - 1] != '_')
        return false;
    text = text.substr(0, start - 1);
    return true;
}

constexpr std::int64_t kNanosecondsPerDay = 86400LL * 1000000000LL;

std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool isScheduledCaptureName(std::string_view name) {
    if (!cutSuffix(name, ".bmp") && !cutSuffix(name, ".jpg") && !cutSuffix(name, ".png"))
        return false;
    cutTakenNameSuffix(name);
    if (!cutNumberText(name))
        return false;
    // Whatever comes before the tag is the prefix of the naming rule in force then (a fixed
    // text, a time, or whatever custom prefix the person had typed).
    return cutSuffix(name, kTimedTag) || cutSuffix(name, kIntervalTag);
}

bool isDayFolderName(std::string_view name) {
    if (name.size() != 10 || name[4] != '-' || name[7] != '-' || !allDigits(name.substr(0, 4)) ||
        !allDigits(name.substr(5, 2)) || !allDigits(name.substr(8, 2)))
        return false;
    const int month = (name[5] - '0') * 10 + (name[6] - '0');
    const int day = (name[8] - '0') * 10 + (name[9] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

RetentionIndex::RetentionIndex(std::string folder)
    : folder_(platform::withTrailingSeparator(std::move(folder))) {}

void RetentionIndex::scanPlace(const std::string& subfolder) {
    std::vector<FolderEntry> found;
    const bool top = subfolder.empty();
    platform::listFolderEntries(
        {folder_, subfolder},
        [top](std::string_view name) {
            return isScheduledCaptureName(name) || (top && isDayFolderName(name));
        },
        found);
    for (FolderEntry& entry : found) {
        if (entry.kind == FolderEntry::Kind::Folder && top && isDayFolderName(entry.name))
            scanPlace(entry.name);
        else if (entry.kind == FolderEntry::Kind::File && isScheduledCaptureName(entry.name)) {
            bytes_ += entry.bytes;
            entries_.push_back({entry.modified, entry.bytes, subfolder, std::move(entry.name)});
        }
    }
}

void RetentionIndex::scan() {
    entries_.clear();
    bytes_ = 0;
    scanPlace({});
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.modified, a.subfolder, a.name) <
               std::tie(b.modified, b.subfolder, b.name);
    });
}

void RetentionIndex::insert(Entry entry) {
    // By time, and among files of one time (a coarse clock, a fast schedule) by arrival, so the
    // capture told last counts as the newest. New captures nearly always go to the end.
    auto at = entries_.end();
    if (!entries_.empty() && entries_.back().modified >= entry.modified) {
        auto earlier = [](const Entry& a, std::int64_t t) { return a.modified < t; };
        auto from = std::lower_bound(entries_.begin(), entries_.end(), entry.modified, earlier);
        for (at = from; at != entries_.end() && at->modified == entry.modified; ++at) {
            if (at->name == entry.name && at->subfolder == entry.subfolder)
                return;  // listed already
        }
    }
    bytes_ += entry.bytes;
    entries_.insert(at, std::move(entry));
}

void RetentionIndex::add(std::string_view path) {
    if (path.size() <= folder_.size() || path.substr(0, folder_.size()) != folder_)
        return;
    std::string_view rest = path.substr(folder_.size());
    std::string_view subfolder;
    const auto separator =
        std::find_if(rest.begin(), rest.end(), [](char c) { return platform::isPathSeparator(c); });
    if (separator != rest.end()) {
        subfolder = rest.substr(0, static_cast<std::size_t>(separator - rest.begin()));
        rest.remove_prefix(subfolder.size() + 1);
        if (!isDayFolderName(subfolder) || std::any_of(rest.begin(), rest.end(), [](char c) {
                return platform::isPathSeparator(c);
            }))
            return;
    }
    if (!isScheduledCaptureName(rest))
        return;
    const platform::FolderPlace place{folder_, std::string(subfolder)};
    const std::optional<FolderEntry> entry = platform::inspectFolderEntry(place, std::string(rest));
    if (!entry || entry->kind != FolderEntry::Kind::File)
        return;
    insert({entry->modified, entry->bytes, place.subfolder, entry->name});
}

std::size_t RetentionIndex::enforce(RetentionLimits limits, std::int64_t now) {
    const std::int64_t oldestKept =
        limits.keepDays > 0 ? now - static_cast<std::int64_t>(limits.keepDays) * kNanosecondsPerDay
                            : std::numeric_limits<std::int64_t>::min();
    const std::uint64_t mostBytes = limits.keepMegabytes > 0
                                        ? static_cast<std::uint64_t>(limits.keepMegabytes) << 20
                                        : std::numeric_limits<std::uint64_t>::max();
    std::size_t removed = 0;
    while (!entries_.empty()) {
        const Entry& oldest = entries_.front();
        const bool tooOld = oldest.modified < oldestKept;
        // The capture just saved stays even when it alone is more than the limit.
        const bool tooMuch = bytes_ > mostBytes && entries_.size() > 1;
        if (!tooOld && !tooMuch)
            break;
        Entry entry = std::move(entries_.front());
        entries_.pop_front();
        bytes_ -= entry.bytes;
        const platform::FolderPlace place{folder_, entry.subfolder};
        switch (platform::removeFileIfUnchanged(place, entry.name, entry.bytes, entry.modified)) {
            case platform::RemoveOutcome::Removed:
                ++removed;
                break;
            case platform::RemoveOutcome::Gone:
                break;
            case platform::RemoveOutcome::Changed: {
                // Written again since it was listed: it is judged by what it is now.
                const std::optional<FolderEntry> now =
                    platform::inspectFolderEntry(place, entry.name);
                if (now && now->kind == FolderEntry::Kind::File && now->modified != entry.modified)
                    insert({now->modified, now->bytes, entry.subfolder, entry.name});
                break;
            }
            case platform::RemoveOutcome::Failed: {
                // Left where it is and out of the index, so it is not tried at every capture.
                static bool said = false;
                if (!said) {
                    said = true;
                    std::fprintf(stderr, "lumora: an old capture could not be removed: %s%s%s\n",
                                 folder_.c_str(),
                                 entry.subfolder.empty() ? "" : (entry.subfolder + "/").c_str(),
                                 entry.name.c_str());
                }
                break;
            }
        }
    }
    return removed;
}

namespace {

// The thread that lists and removes, with the one index it keeps: captures go to one folder at a
// time, and a folder chosen anew is listed afresh.
class RetentionWorker {
public:
    using Job = std::function<void(std::unique_ptr<RetentionIndex>&)>;

    static RetentionWorker& instance() {
        static RetentionWorker worker;
        return worker;
    }

    ~RetentionWorker() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void post(Job job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        changed_.notify_all();
    }

    void finish() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return jobs_.empty() && !busy_; });
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            lock.unlock();
            job(index_);
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
    std::unique_ptr<RetentionIndex> index_;  // worker thread only
};

// GUI thread: whether the worker may hold an index, so that a program that keeps everything
// never starts the thread at all.
bool& indexHeld() {
    static bool held = false;
    return held;
}

RetentionLimits currentLimits() {
    const CaptureSettings& settings = captureSettings();
    return {settings.keepDays, settings.keepMegabytes};
}

// Worker: the index of `folder`, listed when it is not the one kept.
RetentionIndex& indexFor(std::unique_ptr<RetentionIndex>& index, const std::string& folder,
                         bool* listed) {
    *listed = false;
    if (!index || index->folder() != folder) {
        index = std::make_unique<RetentionIndex>(folder);
        index->scan();
        *listed = true;
    }
    return *index;
}

}  // namespace

void checkRetention(const std::string& folder) {
    const RetentionLimits limits = currentLimits();
    if (!limits.any() || folder.empty())
        return;
    indexHeld() = true;
    RetentionWorker::instance().post(
        [limits, folder = platform::withTrailingSeparator(folder)](auto& index) {
            bool listed = false;
            indexFor(index, folder, &listed).enforce(limits, nowNanoseconds());
        });
}

void noteSavedCapture(const std::string& folder, const std::string& path) {
    const RetentionLimits limits = currentLimits();
    std::size_t start = path.size();
    while (start > 0 && !platform::isPathSeparator(path[start - 1]))
        --start;
    const std::string_view name = std::string_view(path).substr(start);
    if (!isScheduledCaptureName(name) || folder.empty())
        return;
    if (!limits.any()) {
        // Nothing to keep track of: the index goes, and is listed again when a limit is set.
        if (indexHeld())
            RetentionWorker::instance().post([](auto& index) { index.reset(); });
        indexHeld() = false;
        return;
    }
    indexHeld() = true;
    RetentionWorker::instance().post(
        [limits, folder = platform::withTrailingSeparator(folder), path](auto& index) {
            bool listed = false;
            RetentionIndex& kept = indexFor(index, folder, &listed);
            if (!listed)
                kept.add(path);
            kept.enforce(limits, nowNanoseconds());
        });
}

void finishRetention() {
    RetentionWorker::instance().finish();
}

}  // namespace lumora::capture
