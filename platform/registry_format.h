#pragma once
// The .reg text form of one registry file, apart from where and how the file is stored:
// parsing what a hand-written or exported file may contain and writing our own files back.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lumora::platform::reg {

inline constexpr std::uint32_t kString = 1;        // REG_SZ
inline constexpr std::uint32_t kExpandString = 2;  // REG_EXPAND_SZ
inline constexpr std::uint32_t kBinary = 3;        // REG_BINARY
inline constexpr std::uint32_t kDword = 4;         // REG_DWORD

// Data bytes exactly as the registry holds them: texts in UTF-8 with their terminating zero,
// a DWORD as 4 little-endian bytes.
struct Value {
    std::string name;  // empty for the key's default value ("@")
    std::uint32_t type = kString;
    std::vector<std::uint8_t> data;
};

struct Key {
    std::string path;  // full path including the root key, e.g. "HKEY_LOCAL_MACHINE\software"
    std::vector<Value> values;
    // Position in `values` by the name folded to lower case; kept by Document.
    std::unordered_map<std::string, std::size_t> valueIndex;
};

// Keys in the order they first appeared; names compare case-insensitively (ASCII letters).
// Read `keys` freely, change the document only through set(): lookups go through an index.
struct Document {
    std::vector<Key> keys;
    std::unordered_map<std::string, std::size_t> keyIndex;  // folded path -> position in keys

    const Value* find(std::string_view keyPath, std::string_view valueName) const;
    // Creates the key at the end and the value at the end of its key when missing.
    void set(std::string_view keyPath, Value value);
};

bool sameName(std::string_view a, std::string_view b);

// A file read line by line: every line that can be read safely counts, the others are
// skipped and named here (1-based), so one damaged line costs one value, not the whole store.
struct Reading {
    Document document;
    std::vector<std::size_t> skippedLines;
};
Reading read(std::string_view fileText);

// The same, all or nothing: nullopt when any line was skipped (see the .cpp for what counts).
// Empty text (or only white space) is an empty document.
std::optional<Document> parse(std::string_view fileText);
// REGEDIT4 form; parse(format(d)) gives d back exactly.
std::string format(const Document& document);

// Whether a key path or value name can be written into a file at all (no line breaks).
bool writableName(std::string_view name);

}  // namespace lumora::platform::reg
