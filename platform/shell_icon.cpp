#include "platform/shell_icon.h"

namespace lumora::platform::detail {

namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;

std::uint32_t le16(std::span<const std::uint8_t> d, std::size_t at) {
    return d[at] | (d[at + 1] << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> d, std::size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (std::uint32_t{d[at + 3]} << 24);
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

std::vector<IcoEntry> readIcoDirectory(std::span<const std::uint8_t> data) {
    std::vector<IcoEntry> entries;
    if (data.size() < kHeaderSize || le16(data, 0) != 0 || le16(data, 2) != 1)
        return entries;
    const std::size_t count = le16(data, 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kHeaderSize + i * kEntrySize;
        if (at + kEntrySize > data.size())
            break;
        IcoEntry e;
        e.width = data[at] == 0 ? 256 : data[at];
        e.height = data[at + 1] == 0 ? 256 : data[at + 1];
        e.colourCount = data[at + 2];
        e.planes = static_cast<int>(le16(data, at + 4));
        e.bitCount = static_cast<int>(le16(data, at + 6));
        e.size = le32(data, at + 8);
        e.offset = le32(data, at + 12);
        // Compared without adding, so a huge offset cannot wrap around.
        if (e.size == 0 || e.offset > data.size() || e.size > data.size() - e.offset)
            continue;
        entries.push_back(e);
    }
    return entries;
}

std::optional<IcoEntry> selectIcoEntry(std::span<const IcoEntry> entries, int width) {
    if (entries.empty())
        return std::nullopt;
    for (const IcoEntry& e : entries) {
        if (e.width == width && e.colourCount >= 16)
            return e;
    }
    return entries.back();
}

std::optional<IcoEntry> selectIcoEntryForSize(std::span<const IcoEntry> entries, int size) {
    if (size <= 16 || entries.empty())
        return selectIcoEntry(entries, size);
    const IcoEntry* best = nullptr;
    for (const IcoEntry& e : entries) {
        if (e.width == size)
            return e;
        const bool wider = e.width > size;
        if (best == nullptr || (wider && (best->width < size || e.width < best->width)) ||
            (!wider && best->width < size && e.width > best->width)) {
            best = &e;
        }
    }
    return *best;
}

std::vector<std::uint8_t> singleEntryIco(std::span<const std::uint8_t> data,
                                         const IcoEntry& entry) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + kEntrySize + entry.size);
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    // The directory entry as stored, with the offset of its image in the new file.
    const std::size_t entryStart = out.size();
    out.resize(out.size() + 12);
    out[entryStart] = entry.width >= 256 ? 0 : static_cast<std::uint8_t>(entry.width);
    out[entryStart + 1] = entry.height >= 256 ? 0 : static_cast<std::uint8_t>(entry.height);
    out[entryStart + 2] = static_cast<std::uint8_t>(entry.colourCount);
    out[entryStart + 3] = 0;
    out[entryStart + 4] = entry.planes & 0xFF;
    out[entryStart + 5] = (entry.planes >> 8) & 0xFF;
    out[entryStart + 6] = entry.bitCount & 0xFF;
    out[entryStart + 7] = (entry.bitCount >> 8) & 0xFF;
    const std::size_t size = entry.size;
    out[entryStart + 8] = size & 0xFF;
    out[entryStart + 9] = (size >> 8) & 0xFF;
    out[entryStart + 10] = (size >> 16) & 0xFF;
    out[entryStart + 11] = (size >> 24) & 0xFF;
    put32(out, static_cast<std::uint32_t>(kHeaderSize + kEntrySize));
    const auto image = data.subspan(entry.offset, entry.size);
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

std::string cutAtCharacterBoundary(std::string_view text, std::size_t maxBytes) {
    text = text.substr(0, text.find('\0'));
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t cut = maxBytes;
    // Step back over continuation bytes to the lead byte of the character that would be split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut));
}

}  // namespace lumora::platform::detail
