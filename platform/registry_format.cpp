#include "platform/registry_format.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace lumora::platform::reg {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    return trimRight(trimLeft(s));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    if (b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF)
            return 0;
    return n;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE to UTF-8; nullopt for an odd length or an unpaired surrogate.
std::optional<std::string> utf16ToUtf8(const std::uint8_t* p, std::size_t size) {
    if (size % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < size; i += 2) {
        std::uint32_t u = p[i] | (p[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= size)
                return std::nullopt;
            const std::uint32_t v = p[i + 2] | (p[i + 3] << 8);
            if (v < 0xDC00 || v > 0xDFFF)
                return std::nullopt;
            u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
        appendUtf8(out, u);
    }
    return out;
}

// A quoted name or text starting at s[0] == '"'. Only \" and \\ are escapes, as in exported
// files; a backslash before anything else is kept as written. Sets `rest` after the closing
// quote; nullopt when the closing quote is missing.
std::optional<std::string> readQuoted(std::string_view s, std::string_view& rest) {
    std::string out;
    std::size_t start = 1;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            out.append(s.data() + start, i - start);
            rest = s.substr(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) {
            out.append(s.data() + start, i - start);
            start = ++i;  // the escaped character starts the next run
        }
    }
    return std::nullopt;
}

// What may follow a complete value on its line: white space and a comment.
bool onlyTrailer(std::string_view s) {
    s = trimLeft(s);
    return s.empty() || s.front() == ';';
}

// "aa,bb,cc" (one part of a possibly continued list). A trailing comma is allowed.
bool readHexBytes(std::string_view s, std::vector<std::uint8_t>& out) {
    s = trim(s);
    while (!s.empty()) {
        const std::size_t comma = s.find(',');
        const std::string_view token = trim(s.substr(0, comma));
        if (token.empty() || token.size() > 2)
            return false;
        int v = 0;
        for (char c : token) {
            const int d = hexDigit(c);
            if (d < 0)
                return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<std::uint8_t>(v));
        if (comma == std::string_view::npos)
            break;
        s = trimLeft(s.substr(comma + 1));
    }
    return true;
}

struct Line {
    std::string_view text;
    bool terminated;  // followed by a line end in the file
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back({line, nl != std::string_view::npos});
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"' || s[i] == '\\') {
            out.append(s.data() + start, i - start);
            out += '\\';
            start = i;
        }
    }
    out.append(s.data() + start, s.size() - start);
    out += '"';
}

void appendHexByte(std::string& out, std::uint8_t b) {
    constexpr char kDigits[] = "0123456789abcdef";
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
}

bool fitsQuotedText(const Value& v) {
    if (v.type != kString || v.data.empty() || v.data.back() != 0)
        return false;
    const std::string_view text(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1);
    for (char c : text) {
        if (c == '\0' || c == '\r' || c == '\n')
            return false;
    }
    return validUtf8(text);
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

bool writableName(std::string_view name) {
    return name.find_first_of("\r\n") == std::string_view::npos;
}

const Value* Document::find(std::string_view keyPath, std::string_view valueName) const {
    const auto k = keyIndex.find(folded(keyPath));
    if (k == keyIndex.end())
        return nullptr;
    const Key& key = keys[k->second];
    const auto v = key.valueIndex.find(folded(valueName));
    return v == key.valueIndex.end() ? nullptr : &key.values[v->second];
}

void Document::set(std::string_view keyPath, Value value) {
    auto [k, newKey] = keyIndex.try_emplace(folded(keyPath), keys.size());
    if (newKey)
        keys.push_back(Key{std::string(keyPath), {}, {}});
    Key& key = keys[k->second];
    auto [v, newValue] = key.valueIndex.try_emplace(folded(value.name), key.values.size());
    if (newValue) {
        key.values.push_back(std::move(value));
        return;
    }
    // The name keeps the case it was created with.
    key.values[v->second].type = value.type;
    key.values[v->second].data = std::move(value.data);
}

namespace {

// The document while it is read: deleted keys and values ("[-key]", "name"=-) stay in place
// as tombstones until the end, so each deletion costs its own size and no more, and a key or
// value created again afterwards goes to the end, as in the file's order.
class Draft {
public:
    // The live key of this path, created at the end when missing.
    std::size_t key(std::string_view path) {
        auto [at, created] = live_.try_emplace(folded(path), keys_.size());
        if (created)
            keys_.push_back({Key{std::string(path), {}, {}}, true, {}, 0});
        return at->second;
    }
    void removeTree(std::string_view path) {
        const std::string base = folded(path);
        if (const auto self = live_.find(base); self != live_.end()) {
            keys_[self->second].alive = false;
            live_.erase(self);
        }
        // Folded paths below `base` sort together: from "base\" up to "base]" ('\\' + 1).
        const auto first = live_.lower_bound(base + '\\');
        const auto last = live_.lower_bound(base + ']');
        for (auto it = first; it != last; ++it)
            keys_[it->second].alive = false;
        live_.erase(first, last);
    }
    void set(std::size_t key, Value value) {
        DraftKey& k = keys_[key];
        auto [at, created] = k.key.valueIndex.try_emplace(folded(value.name), k.key.values.size());
        if (created) {
            k.key.values.push_back(std::move(value));
            k.valueAlive.push_back(true);
        } else {
            k.key.values[at->second].type = value.type;
            k.key.values[at->second].data = std::move(value.data);
        }
    }
    void remove(std::size_t key, std::string_view valueName) {
        DraftKey& k = keys_[key];
        const auto at = k.key.valueIndex.find(folded(valueName));
        if (at == k.key.valueIndex.end())
            return;
        k.valueAlive[at->second] = false;
        ++k.deadValues;
        k.key.valueIndex.erase(at);
    }
    Document finish() {
        Document doc;
        std::vector<std::size_t> position(keys_.size(), 0);
        for (std::size_t d = 0; d < keys_.size(); ++d) {
            DraftKey& k = keys_[d];
            if (!k.alive)
                continue;
            position[d] = doc.keys.size();
            if (k.deadValues == 0) {
                doc.keys.push_back(std::move(k.key));  // its index holds as it is
                continue;
            }
            Key key{std::move(k.key.path), {}, {}};
            for (std::size_t i = 0; i < k.key.values.size(); ++i) {
                if (!k.valueAlive[i])
                    continue;
                key.valueIndex.emplace(folded(k.key.values[i].name), key.values.size());
                key.values.push_back(std::move(k.key.values[i]));
            }
            doc.keys.push_back(std::move(key));
        }
        doc.keyIndex.reserve(live_.size());
        for (auto& [name, d] : live_)
            doc.keyIndex.emplace(name, position[d]);
        return doc;
    }

private:
    struct DraftKey {
        Key key;
        bool alive;
        std::vector<bool> valueAlive;
        std::size_t deadValues = 0;
    };
    std::vector<DraftKey> keys_;
    std::map<std::string, std::size_t> live_;  // folded path -> live key
};

// One value line (and the lines that continue it), given its text after the name's "=".
// Advances `li` past the lines that continue it, whether or not they can be read.
enum class ValueForm { Value, Deletion, Unreadable };

ValueForm readValue(std::string_view rest, const std::vector<Line>& lines, std::size_t& li,
                    bool version5, Value& value) {
    bool checkable = false;  // complete even without a line end after it
    if (rest.starts_with('"')) {
        std::string_view after;
        auto quoted = readQuoted(rest, after);
        if (!quoted || !onlyTrailer(after))
            return ValueForm::Unreadable;
        value.type = kString;
        value.data.assign(quoted->begin(), quoted->end());
        value.data.push_back(0);
        checkable = true;
    } else if (startsWithNoCase(rest, "dword:")) {
        std::string_view digits = rest.substr(6);
        const std::size_t end = digits.find_first_of(" \t;");
        if (!onlyTrailer(digits.substr(std::min(end, digits.size()))))
            return ValueForm::Unreadable;
        digits = digits.substr(0, end);
        if (digits.empty() || digits.size() > 8)
            return ValueForm::Unreadable;
        std::uint32_t v = 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0)
                return ValueForm::Unreadable;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        value.type = kDword;
        value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                      static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        checkable = digits.size() == 8;
    } else if (startsWithNoCase(rest, "hex")) {
        std::string_view afterHex = rest.substr(3);
        value.type = kBinary;
        bool good = true;
        if (afterHex.starts_with('(')) {
            const std::size_t close = afterHex.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9)
                return ValueForm::Unreadable;
            std::uint32_t t = 0;
            for (char c : afterHex.substr(1, close - 1)) {
                const int d = hexDigit(c);
                if (d < 0)
                    return ValueForm::Unreadable;
                t = t * 16 + static_cast<std::uint32_t>(d);
            }
            value.type = t;
            afterHex = afterHex.substr(close + 1);
        }
        if (!afterHex.starts_with(':'))
            return ValueForm::Unreadable;
        // A damaged part still leaves the continuation lines to this value, not to others.
        std::string_view part = trimRight(afterHex.substr(1));
        while (part.ends_with('\\')) {
            good = readHexBytes(part.substr(0, part.size() - 1), value.data) && good;
            if (li + 1 >= lines.size())
                return ValueForm::Unreadable;
            part = trim(lines[++li].text);
        }
        if (!readHexBytes(part, value.data) || !good)
            return ValueForm::Unreadable;
        if (version5 && (value.type == kString || value.type == kExpandString ||
                         value.type == 7 /* REG_MULTI_SZ */)) {
            // Version 5 files hold these as UTF-16LE; ours hold UTF-8 like every text.
            if (auto utf8 = utf16ToUtf8(value.data.data(), value.data.size()))
                value.data.assign(utf8->begin(), utf8->end());
        }
    } else if (rest.starts_with('-') && onlyTrailer(rest.substr(1))) {
        return ValueForm::Deletion;
    } else {
        return ValueForm::Unreadable;
    }
    if (!lines[li].terminated && !checkable)
        return ValueForm::Unreadable;
    return ValueForm::Value;
}

}  // namespace

// A line is skipped when it is of no known form, a section or quoted text lacks its closing
// bracket or quote, a value stands outside any section or under a section that could not be
// read, or a hex list runs past the end of the file. The file's last line, when no line end
// follows it, must be complete in a way that can be checked: a quoted text or an 8-digit DWORD;
// anything else there may be a line cut short and is skipped rather than misread. A first line
// that is not a header is skipped and the rest read as REGEDIT4.
Reading read(std::string_view text) {
    Reading result;
    std::string converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        auto utf8 =
            utf16ToUtf8(reinterpret_cast<const std::uint8_t*>(text.data()) + 2, text.size() - 2);
        if (!utf8) {
            result.skippedLines.push_back(1);  // nothing in it can be trusted
            return result;
        }
        converted = std::move(*utf8);
        text = converted;
    }
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    Draft draft;
    const std::vector<Line> lines = splitLines(text);
    bool haveHeader = false;
    bool version5 = false;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t section = kNone;
    bool sectionDeleted = false;  // inside a "[-...]" section: its values are ignored

    for (std::size_t li = 0; li < lines.size(); ++li) {
        const std::size_t first = li;
        const auto skip = [&] {
            for (std::size_t i = first; i <= li; ++i)
                result.skippedLines.push_back(i + 1);
        };
        const std::string_view line = trim(lines[li].text);
        if (line.empty() || line.front() == ';')
            continue;
        if (!haveHeader) {
            haveHeader = true;
            if (line == kHeader5) {
                version5 = true;
            } else if (line != kHeader4) {
                skip();
            }
            continue;
        }
        if (line.front() == '[') {
            section = kNone;
            sectionDeleted = false;
            std::string_view path = line.substr(1, line.size() - 2);
            const bool deletion = line.back() == ']' && path.starts_with('-');
            if (deletion)
                path.remove_prefix(1);
            if (line.size() < 2 || line.back() != ']' || path.empty()) {
                skip();  // and the values below it, whose key is unknown
            } else if (deletion) {
                draft.removeTree(path);
                sectionDeleted = true;
            } else {
                section = draft.key(path);
            }
            continue;
        }

        // A value line.
        Value value;
        std::string_view rest;
        if (line.front() == '@') {
            rest = line.substr(1);
        } else if (line.front() == '"') {
            auto quoted = readQuoted(line, rest);
            if (!quoted) {
                skip();
                continue;
            }
            value.name = std::move(*quoted);
        } else {
            skip();
            continue;
        }
        rest = trimLeft(rest);
        if (rest.empty() || rest.front() != '=') {
            skip();
            continue;
        }
        const ValueForm form = readValue(trimLeft(rest.substr(1)), lines, li, version5, value);
        if (form == ValueForm::Unreadable || (section == kNone && !sectionDeleted)) {
            skip();
        } else if (section == kNone) {
            // a value of a deleted key
        } else if (form == ValueForm::Deletion) {
            draft.remove(section, value.name);
        } else {
            draft.set(section, std::move(value));
        }
    }
    // Without a header every line was blank or a comment: an empty document.
    result.document = draft.finish();
    return result;
}

std::optional<Document> parse(std::string_view text) {
    Reading reading = read(text);
    if (!reading.skippedLines.empty())
        return std::nullopt;
    return std::move(reading.document);
}

std::string format(const Document& doc) {
    std::size_t estimate = kHeader4.size() + 2;
    for (const auto& key : doc.keys) {
        estimate += key.path.size() + 4;
        for (const auto& v : key.values)
            estimate += v.name.size() + v.data.size() * 3 + 16;
    }
    std::string out;
    out.reserve(estimate + estimate / 16);
    out += kHeader4;
    out += "\n\n";
    char buf[32];
    for (const auto& key : doc.keys) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const auto& v : key.values) {
            const std::size_t lineStart = out.size();
            if (v.name.empty()) {
                out += '@';
            } else {
                appendQuoted(out, v.name);
            }
            out += '=';
            if (fitsQuotedText(v)) {
                appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()),
                                                   v.data.size() - 1));
            } else if (v.type == kDword && v.data.size() == 4) {
                const std::uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                        (static_cast<std::uint32_t>(v.data[3]) << 24);
                out += "dword:";
                for (int shift = 24; shift >= 0; shift -= 8)
                    appendHexByte(out, static_cast<std::uint8_t>(n >> shift));
            } else {
                if (v.type == kBinary) {
                    out += "hex:";
                } else {
                    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
                    out += buf;
                }
                // Lines of at most about 80 columns, continued with a trailing backslash.
                std::size_t column = out.size() - lineStart;
                for (std::size_t i = 0; i < v.data.size(); ++i) {
                    appendHexByte(out, v.data[i]);
                    column += 2;
                    if (i + 1 < v.data.size()) {
                        out += ',';
                        ++column;
                        if (column > 75) {
                            out += "\\\n  ";
                            column = 2;
                        }
                    }
                }
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

}  // namespace lumora::platform::reg
