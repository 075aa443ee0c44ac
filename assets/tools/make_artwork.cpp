// Draws the program's pictures: the icon (".ico" plus PNG copies for the desktop's icon theme),
// the main window's background, the start-up logo and the twelve picture-button images. The
// background and the buttons are drawn once more for screens at 150 % and 200 % ("name@1.5x.png",
// "name@2x.png"), so they stay sharp there instead of being enlarged pixels.
//
//   QT_QPA_PLATFORM=offscreen make_artwork <assets folder>
//
// The output depends only on this file and the installed fonts, so running it twice gives the
// same bytes. It refuses to run when a font it needs is missing rather than draw with a
// substitute that would make the pictures differ from machine to machine.
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QtMath>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr const char* kCjkFamily = "WenQuanYi Micro Hei";
constexpr const char* kWordmarkFamily = "URW Gothic";

// The colours the pictures share, so icon, logo and window read as one product.
const QColor kViolet(0x7c, 0x4d, 0xf2);
const QColor kBlue(0x2f, 0x7b, 0xf0);
const QColor kNavy(0x1b, 0x1a, 0x4a);

constexpr int kBackgroundWidth = 508;
constexpr int kBackgroundHeight = 354;
constexpr int kLogoWidth = 703;
constexpr int kLogoHeight = 163;
constexpr int kLogoVisibleWidth = 694;  // the splash window shows only this much

QFont makeFont(const char* family, int pixelSize, int weight = QFont::Normal) {
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(pixelSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

bool fontResolves(const char* family) {
    // fontconfig may append the foundry in brackets when two files share a family name.
    const QString resolved = QFontInfo(makeFont(family, 14)).family();
    const QString wanted = QString::fromUtf8(family);
    return resolved.compare(wanted, Qt::CaseInsensitive) == 0 ||
           resolved.startsWith(wanted + " [", Qt::CaseInsensitive);
}

QPointF polar(QPointF centre, qreal radius, qreal degrees) {
    const qreal a = qDegreesToRadians(degrees);
    return centre + QPointF(radius * std::cos(a), radius * std::sin(a));
}

// The far point where the ray from `from` along `direction` leaves the circle.
QPointF leaveCircle(QPointF from, QPointF direction, QPointF centre, qreal radius) {
    const qreal len = std::hypot(direction.x(), direction.y());
    const QPointF d = direction / len;
    const QPointF f = from - centre;
    const qreal b = QPointF::dotProduct(f, d);
    const qreal c = QPointF::dotProduct(f, f) - radius * radius;
    const qreal t = -b + std::sqrt(std::max<qreal>(0, b * b - c));
    return from + d * t;
}

struct ApertureStyle {
    int blades = 6;
    qreal rotation = -90;  // where the first corner of the opening points
    QColor bladeLight = Qt::white;
    QColor bladeDark = QColor(0xe2, 0xe4, 0xff);
    QBrush opening = QBrush(kNavy);
    QColor gap = kViolet;
    qreal gapWidth = 1.5;
};

// A camera iris: blades whose edges extend the sides of the polygonal opening, so they turn
// like a pinwheel around it. Each blade gets a slightly different shade to read as a facet.
void drawAperture(QPainter& p, QPointF centre, qreal radius, qreal openingRadius,
                  const ApertureStyle& style) {
    const int n = style.blades;
    std::vector<QPointF> corner(n);
    for (int i = 0; i < n; ++i)
        corner[i] = polar(centre, openingRadius, style.rotation + 360.0 * i / n);
    std::vector<QPointF> rim(n);  // where the edge from corner i through corner i+1 meets the rim
    for (int i = 0; i < n; ++i) {
        const QPointF a = corner[i];
        const QPointF b = corner[(i + 1) % n];
        rim[i] = leaveCircle(b, b - a, centre, radius);
    }
    QPainterPath disc;
    disc.addEllipse(centre, radius, radius);
    p.save();
    p.setClipPath(disc, Qt::IntersectClip);
    for (int i = 0; i < n; ++i) {
        const int j = (i + 1) % n;
        QPainterPath blade;
        blade.moveTo(corner[j]);
        blade.lineTo(rim[i]);
        qreal a0 = qRadiansToDegrees(std::atan2(rim[i].y() - centre.y(), rim[i].x() - centre.x()));
        qreal a1 = qRadiansToDegrees(std::atan2(rim[j].y() - centre.y(), rim[j].x() - centre.x()));
        while (a1 <= a0)
            a1 += 360;
        constexpr int kArcSteps = 24;
        for (int k = 1; k <= kArcSteps; ++k)
            blade.lineTo(polar(centre, radius, a0 + (a1 - a0) * k / kArcSteps));
        blade.lineTo(corner[(j + 1) % n]);
        blade.closeSubpath();
        const qreal t = 0.5 + 0.5 * std::cos(qDegreesToRadians(360.0 * i / n + 40));
        QColor shade;
        shade.setRgbF(style.bladeLight.redF() * t + style.bladeDark.redF() * (1 - t),
                      style.bladeLight.greenF() * t + style.bladeDark.greenF() * (1 - t),
                      style.bladeLight.blueF() * t + style.bladeDark.blueF() * (1 - t),
                      style.bladeLight.alphaF() * t + style.bladeDark.alphaF() * (1 - t));
        p.fillPath(blade, shade);
    }
    QPolygonF opening;
    for (const QPointF& c : corner)
        opening << c;
    p.setPen(Qt::NoPen);
    p.setBrush(style.opening);
    p.drawPolygon(opening);
    if (style.gapWidth > 0) {
        p.setPen(QPen(style.gap, style.gapWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        for (int i = 0; i < n; ++i)
            p.drawLine(corner[i], rim[i]);
    }
    p.restore();
}

// ---------------------------------------------------------------------------------------------
// Icon

struct IconLayout {
    qreal margin;        // transparent border around the tile
    qreal cornerRadius;  // of the tile
    qreal lensRadius;    // outer radius of the white ring
    qreal ringWidth;     // 0: blades reach the rim
    qreal irisRadius;    // radius of the blades inside the ring
    qreal openingRadius;
    qreal gapWidth;   // 0: no blade edges (small sizes)
    qreal markInset;  // viewfinder corner marks; 0: none
    qreal markArm;
    qreal markWidth;
};

// Each size is laid out on its own so that lines fall on whole pixels where it matters and
// details that would blur away at that size are left out.
IconLayout iconLayout(int size) {
    switch (size) {
        case 128:
            return {4, 26, 38, 5, 30.5, 10.5, 2.4, 17, 15, 5};
        case 64:
            return {2, 13, 19, 2.5, 15.5, 5.5, 1.5, 8.5, 7.5, 2.5};
        case 48:
            return {1.5, 10, 14.5, 2, 11.5, 4.2, 1.25, 6.5, 5.5, 2};
        case 32:
            return {1, 7, 11, 1.6, 9, 3.4, 1.1, 0, 0, 0};
        default:
            return {0.5, 3.5, 6, 1.6, 4.6, 2.2, 0, 0, 0, 0};
    }
}

QImage drawIcon(int size) {
    const IconLayout l = iconLayout(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF tile(l.margin, l.margin, size - 2 * l.margin, size - 2 * l.margin);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, kViolet.lighter(108));
    fill.setColorAt(1, kBlue);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, l.cornerRadius, l.cornerRadius);
    p.fillPath(tilePath, fill);

    // A soft sheen on the upper half lifts the tile off light and dark panels alike.
    QLinearGradient sheen(tile.topLeft(), QPointF(tile.left(), tile.center().y()));
    sheen.setColorAt(0, QColor(255, 255, 255, 56));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(tilePath, sheen);
    // A darker rim keeps the silhouette on white backgrounds.
    p.setPen(QPen(QColor(40, 30, 120, size >= 48 ? 70 : 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tilePath);

    const QPointF centre(size / 2.0, size / 2.0);
    if (l.markInset > 0) {
        p.setPen(QPen(QColor(255, 255, 255, 235), l.markWidth, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        const qreal a = l.margin + l.markInset;
        const qreal b = size - a;
        const qreal m = l.markArm;
        const std::array<std::array<QPointF, 3>, 4> marks = {{
            {QPointF(a, a + m), QPointF(a, a), QPointF(a + m, a)},
            {QPointF(b - m, a), QPointF(b, a), QPointF(b, a + m)},
            {QPointF(b, b - m), QPointF(b, b), QPointF(b - m, b)},
            {QPointF(a + m, b), QPointF(a, b), QPointF(a, b - m)},
        }};
        for (const auto& mark : marks)
            p.drawPolyline(mark.data(), 3);
    }

    // Lens: a white ring, the iris inside it, a dark opening in the middle.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, l.lensRadius, l.lensRadius);
    if (l.ringWidth > 0) {
        QRadialGradient well(centre, l.lensRadius - l.ringWidth);
        well.setColorAt(0, kNavy.lighter(130));
        well.setColorAt(1, kNavy);
        p.setBrush(well);
        const qreal inner = l.lensRadius - l.ringWidth;
        p.drawEllipse(centre, inner, inner);
    }
    ApertureStyle iris;
    iris.gapWidth = l.gapWidth;
    iris.gap = kNavy;
    QRadialGradient opening(centre, l.openingRadius);
    opening.setColorAt(0, QColor(0x4a, 0x3f, 0xb8));
    opening.setColorAt(1, kNavy);
    iris.opening = QBrush(opening);
    if (l.gapWidth > 0) {
        drawAperture(p, centre, l.irisRadius, l.openingRadius, iris);
    } else {
        // Too small for blades: dark glass inside the ring with a glint reads as a lens.
        const qreal glint = std::max<qreal>(1.0, l.openingRadius * 0.55);
        p.setBrush(QColor(255, 255, 255, 230));
        p.drawEllipse(centre + QPointF(-l.openingRadius * 0.55, -l.openingRadius * 0.55), glint,
                      glint);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

void putLe16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>(v >> 8));
}

void putLe32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

// One ".ico" image per picture, in the classic form every reader understands: a
// BITMAPINFOHEADER with the doubled height, 32-bit BGRA rows bottom-up, then the 1-bit AND
// mask (set where a pixel is fully transparent, so readers that honour only the mask agree
// with those that honour the alpha).
QByteArray icoImage(const QImage& picture) {
    const QImage img = picture.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    putLe32(out, 40);
    putLe32(out, static_cast<std::uint32_t>(w));
    putLe32(out, static_cast<std::uint32_t>(2 * h));
    putLe16(out, 1);   // planes
    putLe16(out, 32);  // bits per pixel
    putLe32(out, 0);   // BI_RGB
    putLe32(out, static_cast<std::uint32_t>(4 * w * h + maskStride * h));
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            out.append(static_cast<char>(qBlue(row[x])));
            out.append(static_cast<char>(qGreen(row[x])));
            out.append(static_cast<char>(qRed(row[x])));
            out.append(static_cast<char>(qAlpha(row[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        QByteArray bits(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                bits[x / 8] = static_cast<char>(bits[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(bits);
    }
    return out;
}

QByteArray icoFile(const std::vector<QImage>& pictures) {
    std::vector<QByteArray> images;
    for (const QImage& picture : pictures)
        images.push_back(icoImage(picture));
    QByteArray out;
    putLe16(out, 0);  // reserved
    putLe16(out, 1);  // icon
    putLe16(out, static_cast<std::uint16_t>(pictures.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const int w = pictures[i].width();
        const int h = pictures[i].height();
        out.append(static_cast<char>(w >= 256 ? 0 : w));
        out.append(static_cast<char>(h >= 256 ? 0 : h));
        out.append('\0');  // no palette: true colour declares no colour count
        out.append('\0');
        putLe16(out, 1);   // planes
        putLe16(out, 32);  // bits per pixel
        putLe32(out, static_cast<std::uint32_t>(images[i].size()));
        putLe32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images)
        out.append(image);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Main window background

// A length of the 1x pictures at `scale`, rounded as Windows scales a control's rectangle
// (MulDiv), so a picture and the control it fills have the same size.
int scaled(int length, qreal scale) {
    return static_cast<int>(std::floor(length * scale + 0.5));
}

QImage drawBackground(qreal scale = 1) {
    QImage image(scaled(kBackgroundWidth, scale), scaled(kBackgroundHeight, scale),
                 QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);

    QLinearGradient base(0, 0, kBackgroundWidth, kBackgroundHeight);
    base.setColorAt(0, QColor(0xfb, 0xfb, 0xff));
    base.setColorAt(0.55, QColor(0xf3, 0xf3, 0xfc));
    base.setColorAt(1, QColor(0xe7, 0xe9, 0xf8));
    const QRectF area(0, 0, kBackgroundWidth, kBackgroundHeight);
    p.fillRect(area, base);

    // The text sits on the left and in the middle; the decoration stays on the right, faint
    // enough that the picture buttons above it keep their contrast.
    QRadialGradient glow(QPointF(470, 150), 230);
    glow.setColorAt(0, QColor(0x9d, 0x7c, 0xf7, 46));
    glow.setColorAt(1, QColor(0x9d, 0x7c, 0xf7, 0));
    p.fillRect(area, glow);

    const QPointF lens(402, 146);
    p.setPen(QPen(QColor(0x7c, 0x4d, 0xf2, 30), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(lens, 84, 84);
    p.setPen(QPen(QColor(0x2f, 0x7b, 0xf0, 22), 1));
    p.drawEllipse(lens, 98, 98);
    ApertureStyle iris;
    iris.bladeLight = QColor(0x7c, 0x4d, 0xf2, 14);
    iris.bladeDark = QColor(0x2f, 0x7b, 0xf0, 30);
    iris.opening = QBrush(QColor(255, 255, 255, 70));
    iris.gap = QColor(255, 255, 255, 150);
    iris.gapWidth = 2;
    iris.rotation = -75;
    drawAperture(p, lens, 74, 26, iris);

    // Two translucent facets along the lower right edge give the corner some depth.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7c, 0x4d, 0xf2, 16));
    p.drawPolygon(QPolygonF({QPointF(300, 354), QPointF(508, 214), QPointF(508, 354)}));
    p.setBrush(QColor(0x2f, 0x7b, 0xf0, 14));
    p.drawPolygon(QPolygonF({QPointF(390, 354), QPointF(508, 262), QPointF(508, 354)}));

    // A hairline under the folder row separates the heading from the hint.
    QLinearGradient rule(0, 0, 300, 0);
    rule.setColorAt(0, QColor(0x7c, 0x4d, 0xf2, 60));
    rule.setColorAt(1, QColor(0x7c, 0x4d, 0xf2, 0));
    p.fillRect(QRectF(0, 78, 300, 1), rule);
    p.end();
    return image;
}

// ---------------------------------------------------------------------------------------------
// Logo

QImage drawLogo() {
    QImage image(kLogoWidth, kLogoHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient base(0, 0, kLogoWidth, kLogoHeight);
    base.setColorAt(0, QColor(0x17, 0x14, 0x3d));
    base.setColorAt(0.6, QColor(0x24, 0x1d, 0x6b));
    base.setColorAt(1, QColor(0x1d, 0x3f, 0x9e));
    p.fillRect(image.rect(), base);
    QRadialGradient glow(QPointF(90, 82), 220);
    glow.setColorAt(0, QColor(0x8b, 0x5c, 0xf6, 70));
    glow.setColorAt(1, QColor(0x8b, 0x5c, 0xf6, 0));
    p.fillRect(image.rect(), glow);

    // A large faint iris bleeding off the right edge balances the emblem on the left.
    ApertureStyle faint;
    faint.bladeLight = QColor(255, 255, 255, 10);
    faint.bladeDark = QColor(255, 255, 255, 22);
    faint.opening = QBrush(QColor(0, 0, 0, 0));
    faint.gap = QColor(0x17, 0x14, 0x3d, 120);
    faint.gapWidth = 2.5;
    faint.rotation = -80;
    drawAperture(p, QPointF(610, 82), 120, 40, faint);

    const QImage emblem = drawIcon(128);
    p.drawImage(QPointF(22, 18), emblem);

    const QFont wordmark = makeFont(kWordmarkFamily, 80, QFont::DemiBold);
    p.setFont(wordmark);
    p.setPen(Qt::white);
    const int textLeft = 172;
    p.drawText(QPointF(textLeft, 98), QStringLiteral("Lumora"));

    const QFont subtitle = makeFont(kCjkFamily, 22);
    p.setFont(subtitle);
    p.setPen(QColor(0xc9, 0xc8, 0xff));
    p.drawText(QPointF(textLeft + 4, 136), QString::fromUtf8("截图精灵  v1.10"));

    // Accent line along the bottom, inside the part of the picture the splash shows.
    QLinearGradient accent(0, 0, kLogoVisibleWidth, 0);
    accent.setColorAt(0, kViolet);
    accent.setColorAt(1, kBlue);
    p.fillRect(QRectF(0, kLogoHeight - 4, kLogoWidth, 4), accent);
    p.end();
    return image;
}

// ---------------------------------------------------------------------------------------------
// Picture buttons

struct ButtonStyle {
    const char* suffix;
    QColor top;
    QColor bottom;
    QColor border;
    QColor text;
    bool raised;  // highlight line and text shadow; off for pressed and disabled
    int textShift;
};

const std::array<ButtonStyle, 4> kButtonStyles = {{
    {"normal", QColor(0x4f, 0x94, 0xf5), QColor(0x2b, 0x6c, 0xdc), QColor(0x22, 0x59, 0xb8),
     Qt::white, true, 0},
    {"hover", QColor(0xf4, 0x86, 0xbd), QColor(0xe0, 0x55, 0x9b), QColor(0xc2, 0x41, 0x82),
     Qt::white, true, 0},
    {"pressed", QColor(0x16, 0x1f, 0x3c), QColor(0x24, 0x31, 0x58), QColor(0x0e, 0x14, 0x2a),
     QColor(0xb4, 0xba, 0xc8), false, 1},
    {"disabled", QColor(0xea, 0xeb, 0xee), QColor(0xdb, 0xdc, 0xe1), QColor(0xc0, 0xc2, 0xc8),
     Qt::black, false, 0},
}};

struct ButtonSpec {
    const char* name;
    const char* caption;
    int width;
    QPoint place;  // top-left in the main window's client area, over the background
};

const std::array<ButtonSpec, 3> kButtons = {{
    {"open_folder", "打开截图文件夹", 120, QPoint(249, 240)},
    {"background", "后台运行", 95, QPoint(375, 240)},
    {"change", "修改", 80, QPoint(416, 24)},
}};
constexpr int kButtonHeight = 32;

// The backdrop is the part of the (decoded) background picture the button covers, so the
// antialiased corners blend exactly with what the window shows around the button.
// At a scale above 1 the face fills the whole (rounded) image, and the caption is set in a font
// of the scaled size on whole device pixels.
QImage drawButton(const ButtonSpec& def, const ButtonStyle& style, const QImage& backdrop,
                  qreal scale = 1) {
    const QRect place(scaled(def.place.x(), scale), scaled(def.place.y(), scale),
                      scaled(def.width, scale), scaled(kButtonHeight, scale));
    QImage image = backdrop.copy(place).convertToFormat(QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(qreal(place.width()) / def.width, qreal(place.height()) / kButtonHeight);

    const QRectF face(0.5, 0.5, def.width - 1, kButtonHeight - 1);
    constexpr qreal kRadius = 5;
    QLinearGradient fill(0, 0, 0, kButtonHeight);
    fill.setColorAt(0, style.top);
    fill.setColorAt(1, style.bottom);
    p.setPen(QPen(style.border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(face, kRadius, kRadius);
    if (style.raised) {
        p.setPen(QPen(QColor(255, 255, 255, 70), 1));
        p.drawLine(QPointF(kRadius, 1.5), QPointF(def.width - kRadius, 1.5));
    } else {
        p.setPen(QPen(QColor(0, 0, 0, style.text == Qt::black ? 0 : 60), 1));
        p.drawLine(QPointF(kRadius, 1.5), QPointF(def.width - kRadius, 1.5));
    }

    p.resetTransform();
    const QFont font = makeFont(kCjkFamily, scaled(14, scale));
    p.setFont(font);
    const QString caption = QString::fromUtf8(def.caption);
    const QRectF ink = QFontMetricsF(font).tightBoundingRect(caption);
    // Whole-pixel origin: the hinted glyphs stay sharp only on the pixel grid.
    const qreal x = std::round((place.width() - ink.width()) / 2 - ink.left());
    const qreal y = std::round((place.height() - ink.height()) / 2 - ink.top()) +
                    scaled(style.textShift, scale);
    if (style.raised) {
        p.setPen(QColor(0, 0, 0, 45));
        p.drawText(QPointF(x, y + scaled(1, scale)), caption);
    }
    p.setPen(style.text);
    p.drawText(QPointF(x, y), caption);
    p.end();
    return image;
}

// ---------------------------------------------------------------------------------------------

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QByteArray encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality))
        bytes.clear();
    return bytes;
}

bool writeImage(const QString& path, const QImage& image, const char* format, int quality = -1) {
    const QByteArray bytes = encode(image, format, quality);
    if (bytes.isEmpty()) {
        std::fprintf(stderr, "make_artwork: cannot encode %s\n", qPrintable(path));
        return false;
    }
    return writeFile(path, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork <assets folder>\n");
        return 2;
    }
    for (const char* family : {kCjkFamily, kWordmarkFamily}) {
        if (!fontResolves(family)) {
            std::fprintf(stderr, "make_artwork: font \"%s\" is not installed\n", family);
            return 1;
        }
    }
    const QDir assets(QString::fromLocal8Bit(argv[1]));
    if (!assets.exists()) {
        std::fprintf(stderr, "make_artwork: no folder %s\n", argv[1]);
        return 1;
    }
    bool ok = true;

    std::vector<QImage> icons;
    for (int size : {128, 64, 48, 32, 16}) {
        icons.push_back(drawIcon(size));
        const QString dir = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        ok = assets.mkpath(dir) && ok;
        ok = writeImage(assets.filePath(dir + "/lumora.png"), icons.back(), "PNG") && ok;
    }
    ok = writeFile(assets.filePath("lumora.ico"), icoFile(icons)) && ok;

    ok = writeImage(assets.filePath("logo.jpg"), drawLogo(), "JPEG", 92) && ok;

    for (const auto& [scale, suffix] :
         {std::pair<qreal, const char*>{1, ""}, {1.5, "@1.5x"}, {2, "@2x"}}) {
        const QByteArray background = encode(drawBackground(scale), "JPEG", 92);
        ok = !background.isEmpty() &&
             writeFile(assets.filePath(QStringLiteral("main_background%1.jpg").arg(suffix)),
                       background) &&
             ok;
        const QImage backdrop = QImage::fromData(background, "JPEG");
        for (const ButtonSpec& def : kButtons) {
            for (const ButtonStyle& style : kButtonStyles) {
                const QString name =
                    QStringLiteral("pic_%1_%2%3.png").arg(def.name, style.suffix, suffix);
                ok = writeImage(assets.filePath(name), drawButton(def, style, backdrop, scale),
                                "PNG") &&
                     ok;
            }
        }
    }
    return ok ? 0 : 1;
}
