// How controls draw: fonts with the definitions' faces and sizes, the transparent label's
// effects, wrapping and see-through background, and the window background's placements.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdlib>

#include "ui/qt/fonts.h"
#include "ui/qt/widgets.h"

namespace lumora::ui {
namespace {

const QColor kGround(0, 128, 0);

// The label drawn over a green parent, as the user would see it.
QImage drawn(const ControlDef& def) {
    QWidget parent;
    parent.resize(def.rect.width + 10, def.rect.height + 10);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, kGround);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    auto* label = new TransparentLabel(def, &parent);
    label->setGeometry(def.rect.left, def.rect.top, def.rect.width, def.rect.height);
    return parent.grab(label->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Close to the colour: glyph edges are smoothed and a one-pixel copy peeking out from under
// the text is mixed with its neighbours, so an exact match is rare there.
bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 90 && std::abs(a.green() - b.green()) < 90 &&
           std::abs(a.blue() - b.blue()) < 90;
}

int count(const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += near(image.pixelColor(x, y), colour);
        }
    }
    return n;
}

// The lowest row that holds anything but the background.
int lastInkRow(const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != kGround)
                return y;
        }
    }
    return -1;
}

ControlDef label(int effect, std::string_view caption = "████") {
    ControlDef def;
    def.name = "label";
    def.kind = ControlKind::TransparentLabel;
    def.rect = {0, 0, 120, 30};
    def.caption = caption;
    def.font = FontDef{"", 20};
    def.textColour = 0x000000FF;  // red
    def.effect = effect;
    def.vAlign = VAlign::Centre;
    return def;
}

TEST(TransparentLabel, EffectsDrawTheirCopies) {
    const QColor red(255, 0, 0);
    const QImage plain = drawn(label(0));
    EXPECT_GT(count(plain, red), 50);
    EXPECT_EQ(count(plain, Qt::white), 0);
    EXPECT_EQ(count(plain, Qt::black), 0);
    // The background shows through everywhere the text is not.
    EXPECT_GT(count(plain, kGround), 120 * 30 / 3);

    // 1: white copy one pixel right and down, under the text: white shows right of the ink.
    const QImage raised = drawn(label(1));
    EXPECT_GT(count(raised, Qt::white), 0);
    // 2: the text itself one pixel right and down over a white copy: white shows left of it.
    const QImage sunk = drawn(label(2));
    EXPECT_GT(count(sunk, Qt::white), 0);
    auto firstColumn = [](const QImage& image, QColor colour) {
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                if (near(image.pixelColor(x, y), colour))
                    return x;
            }
        }
        return -1;
    };
    EXPECT_LT(firstColumn(sunk, Qt::white), firstColumn(sunk, red));
    EXPECT_LT(firstColumn(raised, red), firstColumn(raised, Qt::white));
    // 3: a black shadow two pixels right and down.
    const QImage shadowed = drawn(label(3));
    EXPECT_GT(count(shadowed, Qt::black), 0);
    EXPECT_LT(firstColumn(shadowed, red), firstColumn(shadowed, Qt::black));
}

TEST(TransparentLabel, ColourIsTakenAsBlueGreenRed) {
    ControlDef def = label(0);
    def.textColour = 0x00FF0000;  // blue
    EXPECT_GT(count(drawn(def), QColor(0, 0, 255)), 50);
    EXPECT_EQ(toQColor(0x00FF0090), QColor(0x90, 0x00, 0xFF));
    EXPECT_EQ(fromQColor(QColor(0x90, 0x00, 0xFF)), 0x00FF0090u);
}

TEST(TransparentLabel, WrapBreaksLongTextOntoMoreLines) {
    ControlDef def = label(0, "████ ████ ████ ████ ████ ████");
    def.rect = {0, 0, 120, 120};
    def.wrap = false;
    def.vAlign = VAlign::Top;
    const int oneLine = lastInkRow(drawn(def));
    def.wrap = true;
    const int wrapped = lastInkRow(drawn(def));
    EXPECT_GT(oneLine, 0);
    EXPECT_GT(wrapped, oneLine + 20);
}

TEST(TransparentLabel, VerticalAlignmentPlacesOneLine) {
    ControlDef def = label(0, "██");
    def.rect = {0, 0, 60, 90};
    def.vAlign = VAlign::Top;
    const int top = lastInkRow(drawn(def));
    def.vAlign = VAlign::Bottom;
    const int bottom = lastInkRow(drawn(def));
    EXPECT_LT(top, 40);
    EXPECT_GT(bottom, 80);
}

TEST(TransparentLabel, AmpersandIsDrawnNotAMnemonic) {
    // "a&b" with a mnemonic would draw "ab" with an underline; drawn plainly it is wider.
    ControlDef def = label(0, "W&W");
    def.rect = {0, 0, 200, 30};
    const QImage withAmpersand = drawn(def);
    def.caption = "WW";
    const QImage without = drawn(def);
    auto lastColumn = [](const QImage& image) {
        for (int x = image.width() - 1; x >= 0; --x) {
            for (int y = 0; y < image.height(); ++y) {
                if (image.pixelColor(x, y) != kGround)
                    return x;
            }
        }
        return -1;
    };
    EXPECT_GT(lastColumn(withAmpersand), lastColumn(without) + 5);
}

TEST(Fonts, DefinitionsKeepTheirFaceSizeAndWeight) {
    const QFont yaHei = makeFont(FontDef{"微软雅黑", 21, 400, true});
    EXPECT_EQ(yaHei.family(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(yaHei.pixelSize(), 21);
    EXPECT_TRUE(yaHei.underline());
    const QFont bold = makeFont(FontDef{"宋体", 14, 700});
    EXPECT_EQ(bold.weight(), QFont::Bold);
    EXPECT_EQ(makeFont(std::nullopt).pixelSize(), 12);
    EXPECT_EQ(makeFont(FontDef{"", 16}).family(), defaultGuiFont().family());
    EXPECT_EQ(makeFont(FontDef{"", 16}).pixelSize(), 16);
    // The Chinese faces resolve to an installed font that has Chinese glyphs.
    const QFontInfo info(yaHei);
    const QFontMetrics metrics(yaHei);
    EXPECT_TRUE(metrics.inFont(QChar(0x622A)));  // 截
    EXPECT_NE(info.family(), QStringLiteral("DejaVu Sans")) << info.family().toStdString();
}

}  // namespace
}  // namespace lumora::ui
