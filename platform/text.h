#pragma once
// Text helpers on UTF-8: no cut or match ever starts inside a character.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::platform {

// Pieces between separators, empty pieces kept, an empty piece after the last separator
// dropped, an empty text giving no pieces. maxPieces: nullopt unlimited, negative counts as 0.
std::vector<std::string> splitText(std::string_view text, std::string_view separator = ",",
                                   std::optional<int> maxPieces = std::nullopt);

// Full-width forms folded to ASCII, then the leading number read as atof does (0 when none).
double textToNumber(std::string_view text);

// Length in bytes.
std::size_t textLength(std::string_view text);

}  // namespace lumora::platform
