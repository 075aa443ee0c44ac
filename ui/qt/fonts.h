#pragma once
// Fonts of the window definitions on this desktop. The definitions keep the face names they
// were designed with; the Chinese faces are mapped onto an installed CJK font so no caption is
// drawn with missing glyphs.
#include <optional>

#include <QFont>

#include "ui/model.h"

namespace lumora::ui {

// Registers the substitutions once; safe to call again.
void installFontSubstitutions();

// The font a control draws with: the definition's face, pixel height, weight and underline,
// or the default GUI font when the definition gives none.
QFont makeFont(const std::optional<FontDef>& def);

// The platform's default GUI font, at the 12-pixel height the layouts were designed for.
QFont defaultGuiFont();

}  // namespace lumora::ui
