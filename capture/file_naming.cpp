#include "capture/file_naming.h"

#include <cstdio>
#include <string_view>

#include "platform/files.h"
#include "settings/settings_store.h"

namespace lumora::capture {

namespace {

std::string_view tagFor(CaptureKind kind) {
    switch (kind) {
        case CaptureKind::Timed:
            return kTimedTag;
        case CaptureKind::Interval:
            return kIntervalTag;
        case CaptureKind::Manual:
            break;
    }
    return {};
}

// "_" and the number padded with zeros to at least four characters. A negative number (a stored
// N of 0xFFFFFFFF and below) keeps its sign in front of the zeros, "_-001", as printf's %04d.
std::string numberText(std::int64_t number) {
    std::string digits = platform::numberToText(number);
    std::string sign;
    if (!digits.empty() && digits.front() == '-') {
        sign = "-";
        digits.erase(0, 1);
    }
    const std::size_t width = sign.size() + digits.size();
    const std::size_t zeros = width < 4 ? 4 - width : 0;
    return "_" + sign + std::string(zeros, '0') + digits;
}

// "/" (and on Windows "\\") separates folders, so a prefix such as "../x" or "/tmp/x" would put
// the capture outside the capture folder; the full-width solidus keeps what the user sees. A NUL
// would cut the name short at the system call.
std::string withoutSeparators(std::string_view prefix) {
    std::string out;
    out.reserve(prefix.size());
    for (char c : prefix) {
        if (platform::isPathSeparator(c))
            out += c == '/' ? "／" : "＼";
        else if (c == '\0')
            out += '_';
        else
            out += c;
    }
    return out;
}

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
void cutToBytes(std::string& text, std::size_t limit) {
    if (text.size() <= limit)
        return;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
}

std::string prefixFor(NamingRule rule, platform::DateTime clock) {
    switch (rule) {
        case NamingRule::CurrentTime:
            return platform::timeToText(clock);
        case NamingRule::CustomPrefix:
            return withoutSeparators(
                settings::readText(settings::Option::CustomPrefix, kMissingCustomPrefix));
        case NamingRule::FixedPrefix:
            break;
    }
    return kFixedPrefix;
}

}  // namespace

std::string makeFileStem(CaptureKind kind, const CaptureSettings& settings,
                         platform::DateTime clock) {
    std::string prefix = prefixFor(settings.namingRule, clock);
    std::string suffix = std::string(tagFor(kind)) + numberText(settings.captureCounter);
    // The tag and number keep names apart; only the prefix gives way to the length limit.
    cutToBytes(prefix, suffix.size() < kMaxStemBytes ? kMaxStemBytes - suffix.size() : 0);
    return prefix + suffix;
}

std::string makeFileStem(CaptureKind kind) {
    return makeFileStem(kind, captureSettings(), platform::now());
}

std::string dayFolderName(platform::DateTime clock) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d", platform::yearOf(clock),
                  platform::monthOf(clock), platform::dayOf(clock));
    return name;
}

}  // namespace lumora::capture
