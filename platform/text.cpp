#include "platform/text.h"

#include <locale.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace lumora::platform {

namespace {

// Length of the well-formed UTF-8 sequence at s[i]; 1 for a byte that starts none, so scans
// step over broken bytes one at a time and still never land inside a whole character.
std::size_t sequenceLength(std::string_view s, std::size_t i, std::uint32_t* codePoint = nullptr) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (codePoint)
        *codePoint = c;
    if (c < 0x80)
        return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 1;
    }
    if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi)
        return 1;
    for (std::size_t k = 1; k < n; ++k) {
        if (k > 1 && (b(i + k) & 0xC0) != 0x80)
            return 1;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (codePoint)
        *codePoint = cp;
    return n;
}

// The ASCII form of a full-width character, or 0 when it has none.
char asciiForm(std::uint32_t cp) {
    if (cp >= 0xFF01 && cp <= 0xFF5D)
        return static_cast<char>(cp - 0xFF01 + 0x21);
    switch (cp) {
        case 0xFF5E:  // full-width tilde
        case 0xFFE3:  // full-width macron
            return '~';
        case 0x3000:  // ideographic space
            return ' ';
        case 0x2605:  // black star
        case 0x2606:  // white star
            return '*';
        default:
            return 0;
    }
}

// strtod in the "C" locale. The Windows program never changes the C library's locale, so
// plain strtod reads there as here; on Linux Qt sets the user's.
double readNumberInCLocale(const char* text) {
#if defined(_WIN32)
    return std::strtod(text, nullptr);
#else
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale ? strtod_l(text, nullptr, locale) : std::strtod(text, nullptr);
#endif
}

}  // namespace

std::vector<std::string> splitText(std::string_view text, std::string_view separator,
                                   std::optional<int> maxPieces) {
    std::vector<std::string> pieces;
    if (text.empty() || (maxPieces && *maxPieces <= 0))
        return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    const std::size_t limit = maxPieces ? static_cast<std::size_t>(*maxPieces) : 0;
    std::size_t cut = 0;
    std::size_t i = 0;
    while (separator.size() <= text.size() - i) {
        if (text.compare(i, separator.size(), separator) == 0) {
            pieces.emplace_back(text.substr(cut, i - cut));
            i += separator.size();
            cut = i;
            if (limit != 0 && pieces.size() == limit)
                return pieces;
        } else {
            i += sequenceLength(text, i);
        }
    }
    if (cut < text.size())
        pieces.emplace_back(text.substr(cut));
    return pieces;
}

// Read as atof reads (white space, sign, decimal or hexadecimal digits, exponent), in the "C"
// locale whatever the user's. The result is always finite: "nan" and "inf" are words, not
// numbers, and give 0 like any other word; a number too large for a double gives the largest
// double of its sign, so callers that truncate to an integer never meet a NaN or infinity.
double textToNumber(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp;
        const std::size_t n = sequenceLength(text, i, &cp);
        const char ascii = n > 1 ? asciiForm(cp) : 0;
        if (ascii) {
            folded += ascii;
        } else {
            folded.append(text.substr(i, n));
        }
        i += n;
    }
    errno = 0;
    const double value = readNumberInCLocale(folded.c_str());
    if (std::isnan(value))
        return 0;
    if (std::isinf(value)) {
        if (errno != ERANGE)
            return 0;
        return value > 0 ? DBL_MAX : -DBL_MAX;
    }
    return value;
}

std::size_t textLength(std::string_view text) {
    return text.size();
}

}  // namespace lumora::platform
