// Fonts of the definitions, made with CreateFontW from their faces.
#include <algorithm>
#include <map>
#include <tuple>

#include "ui/win32/state.h"

namespace lumora::ui::win32 {

namespace {

// The definitions name faces as a Chinese Windows lists them. Windows also knows them by
// their English names, and those are the names font replacements (Wine's among them) match.
std::wstring faceName(std::string_view face) {
    if (face == "微软雅黑")
        return L"Microsoft YaHei";
    if (face == "宋体")
        return L"SimSun";
    return widen(face);
}

// The face of controls without a font of their own: the system font of a Chinese Windows.
constexpr wchar_t kDefaultFace[] = L"SimSun";
constexpr int kDefaultPixelHeight = 12;

// The face, the height in device pixels, the weight and the underline.
using Key = std::tuple<std::wstring, int, int, bool>;

HFONT make(const Key& key) {
    const auto& [face, pixels, weight, underline] = key;
    // A negative height asks for the character height (the em), as the definitions give it.
    return CreateFontW(-pixels, 0, 0, 0, std::clamp(weight, 1, 1000), FALSE,
                       underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       face.c_str());
}

HFONT cached(const Key& key) {
    static std::map<Key, HFONT> fonts;
    auto found = fonts.find(key);
    if (found != fonts.end())
        return found->second;
    HFONT font = make(key);
    if (font == nullptr)
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    fonts.emplace(key, font);
    return font;
}

}  // namespace

HFONT defaultGuiFont(int dpi) {
    return cached(Key{kDefaultFace, px(kDefaultPixelHeight, dpi), FW_NORMAL, false});
}

HFONT fontFor(const std::optional<FontDef>& def, int dpi) {
    if (!def)
        return defaultGuiFont(dpi);
    const std::wstring face = def->face.empty() ? std::wstring(kDefaultFace) : faceName(def->face);
    const int pixels = def->pixelHeight > 0 ? def->pixelHeight : kDefaultPixelHeight;
    return cached(Key{face, px(pixels, dpi), def->weight, def->underline});
}

}  // namespace lumora::ui::win32
