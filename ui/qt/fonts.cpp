#include "ui/qt/fonts.h"

#include <algorithm>

#include <QApplication>
#include <QFontDatabase>
#include <QString>

namespace lumora::ui {

namespace {

// Installed CJK faces in order of preference; the first one present wins.
constexpr const char* kCjkFaces[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC",
                                     "Droid Sans Fallback"};

QString installedCjkFace() {
    const QStringList families = QFontDatabase::families();
    for (const char* face : kCjkFaces) {
        if (families.contains(QString::fromLatin1(face), Qt::CaseInsensitive)) {
            return QString::fromLatin1(face);
        }
    }
    return {};
}

}  // namespace

void installFontSubstitutions() {
    static bool done = false;
    if (done)
        return;
    done = true;
    const QString cjk = installedCjkFace();
    if (cjk.isEmpty())
        return;  // Qt still falls back glyph by glyph
    for (const char* face : {"微软雅黑", "Microsoft YaHei", "宋体", "SimSun"}) {
        QFont::insertSubstitution(QString::fromUtf8(face), cjk);
    }
}

QFont defaultGuiFont() {
    QFont font = QApplication::font();
    font.setPixelSize(12);
    return font;
}

QFont makeFont(const std::optional<FontDef>& def) {
    installFontSubstitutions();
    QFont font = defaultGuiFont();
    if (!def)
        return font;
    if (!def->face.empty()) {
        font.setFamily(
            QString::fromUtf8(def->face.data(), static_cast<qsizetype>(def->face.size())));
    }
    if (def->pixelHeight > 0)
        font.setPixelSize(def->pixelHeight);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(def->weight, 1, 1000)));
    font.setUnderline(def->underline);
    return font;
}

}  // namespace lumora::ui
