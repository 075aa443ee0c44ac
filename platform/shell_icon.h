#pragma once
// Pure helpers of the tray icon: choosing one image of a ".ico" file image and cutting the tip.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::platform::detail {

struct IcoEntry {
    int width = 0;   // 1..256 (a stored 0 means 256)
    int height = 0;  // 1..256
    int colourCount = 0;
    int planes = 0;
    int bitCount = 0;
    std::size_t offset = 0;  // of the image bytes within the file image
    std::size_t size = 0;
};

// The directory of a ".ico" file image; entries whose image lies outside the data are dropped.
// Empty for anything that is not an icon file image.
std::vector<IcoEntry> readIcoDirectory(std::span<const std::uint8_t> data);

// The first entry `width` pixels wide that declares at least 16 colours, else the last entry.
std::optional<IcoEntry> selectIcoEntry(std::span<const IcoEntry> entries, int width);

// The tray's choice for an icon `size` pixels wide: selectIcoEntry's at 16 pixels (96 dpi);
// on denser screens the entry of that width, else the narrowest wider one (made smaller, it stays
// sharp where a smaller one made larger would blur), else the widest.
std::optional<IcoEntry> selectIcoEntryForSize(std::span<const IcoEntry> entries, int size);

// A complete ".ico" file image holding the one entry, for a decoder that reads icon files.
std::vector<std::uint8_t> singleEntryIco(std::span<const std::uint8_t> data, const IcoEntry& entry);

// At most `maxBytes` bytes of `text`, ending before the first NUL and never inside a UTF-8
// character.
std::string cutAtCharacterBoundary(std::string_view text, std::size_t maxBytes);

}  // namespace lumora::platform::detail
