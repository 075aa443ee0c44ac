// The pictures compiled into the program: the icon's file structure and the choice the tray
// makes from it, the sizes the window definitions rely on, and that the pictures are drawn the
// way the windows need them (blending button corners, quiet text areas, distinct states).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "assets/assets.h"
#include "tests/support/test_support.h"

namespace {

using lumora::assets::find;

std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

struct IcoEntry {
    int width, height, colourCount, reserved, planes, bitCount;
    std::uint32_t size, offset;
};

std::vector<IcoEntry> icoEntries(std::span<const std::uint8_t> ico) {
    std::vector<IcoEntry> entries;
    const int count = le16(ico, 4);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * static_cast<std::size_t>(i);
        entries.push_back({ico[at] == 0 ? 256 : ico[at], ico[at + 1] == 0 ? 256 : ico[at + 1],
                           ico[at + 2], ico[at + 3], le16(ico, at + 4), le16(ico, at + 6),
                           le32(ico, at + 8), le32(ico, at + 12)});
    }
    return entries;
}

// The colour bits of one entry as a top-down, non-premultiplied ARGB image.
QImage icoColourImage(std::span<const std::uint8_t> ico, const IcoEntry& e) {
    QImage image(e.width, e.height, QImage::Format_ARGB32);
    const std::size_t bits = e.offset + 40;
    for (int y = 0; y < e.height; ++y) {
        const std::size_t row = bits + 4 * static_cast<std::size_t>(e.width) * (e.height - 1 - y);
        for (int x = 0; x < e.width; ++x) {
            const std::size_t p = row + 4 * static_cast<std::size_t>(x);
            image.setPixel(x, y, qRgba(ico[p + 2], ico[p + 1], ico[p], ico[p + 3]));
        }
    }
    return image;
}

bool icoMaskBit(std::span<const std::uint8_t> ico, const IcoEntry& e, int x, int y) {
    const std::size_t stride = ((e.width + 31) / 32) * 4;
    const std::size_t mask = e.offset + 40 + 4 * static_cast<std::size_t>(e.width) * e.height;
    const std::uint8_t byte = ico[mask + stride * (e.height - 1 - y) + x / 8];
    return (byte & (0x80 >> (x % 8))) != 0;
}

QImage decode(std::string_view name) {
    const auto bytes = find(name);
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
}

int luma(QRgb c) {
    return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000;
}

int maxChannelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

constexpr std::array<int, 5> kIconSizes = {128, 64, 48, 32, 16};

}  // namespace

TEST(Icon, IsAFiveImageTrueColourIcoWithConsistentDirectory) {
    const auto ico = find("lumora.ico");
    ASSERT_GE(ico.size(), 6u + 5 * 16);
    EXPECT_EQ(le16(ico, 0), 0);
    EXPECT_EQ(le16(ico, 2), 1);  // an icon, not a cursor
    const auto entries = icoEntries(ico);
    ASSERT_EQ(entries.size(), kIconSizes.size());

    std::uint32_t expectedOffset = 6 + 16 * 5;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const IcoEntry& e = entries[i];
        const int s = kIconSizes[i];
        EXPECT_EQ(e.width, s);
        EXPECT_EQ(e.height, s);
        EXPECT_EQ(e.colourCount, 0);
        EXPECT_EQ(e.reserved, 0);
        EXPECT_EQ(e.planes, 1);
        EXPECT_EQ(e.bitCount, 32);
        // Images follow each other without gaps or overlaps and stay inside the file.
        EXPECT_EQ(e.offset, expectedOffset);
        ASSERT_LE(std::uint64_t{e.offset} + e.size, ico.size());
        expectedOffset = e.offset + e.size;

        ASSERT_GE(e.size, 40u);
        EXPECT_NE(ico[e.offset], 0x89) << "PNG-compressed entry";
        EXPECT_EQ(le32(ico, e.offset), 40u);                       // BITMAPINFOHEADER
        EXPECT_EQ(le32(ico, e.offset + 4), std::uint32_t(s));      // width
        EXPECT_EQ(le32(ico, e.offset + 8), std::uint32_t(2 * s));  // colour + mask height
        EXPECT_EQ(le16(ico, e.offset + 12), 1);
        EXPECT_EQ(le16(ico, e.offset + 14), 32);
        EXPECT_EQ(le32(ico, e.offset + 16), 0u);  // uncompressed
        EXPECT_EQ(le32(ico, e.offset + 32), 0u);  // no palette
        const std::uint32_t maskBytes = std::uint32_t((s + 31) / 32 * 4 * s);
        EXPECT_EQ(e.size, 40 + 4u * s * s + maskBytes);
    }
    EXPECT_EQ(expectedOffset, ico.size()) << "bytes after the last image";
    EXPECT_EQ(ico.size(), 99678u);
}

TEST(Icon, TraySelectionRuleTakesTheSixteenPixelImage) {
    // The tray takes the first 16-pixel entry declaring at least 16 colours, else the last one.
    const auto entries = icoEntries(find("lumora.ico"));
    ASSERT_FALSE(entries.empty());
    std::size_t chosen = entries.size() - 1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].width == 16 && entries[i].colourCount >= 16) {
            chosen = i;
            break;
        }
    }
    EXPECT_EQ(chosen, entries.size() - 1);
    EXPECT_EQ(entries[chosen].width, 16);
    EXPECT_EQ(entries[chosen].height, 16);
}

TEST(Icon, EveryImageHasRealAlphaAndAMaskThatAgreesWithIt) {
    const auto ico = find("lumora.ico");
    const auto entries = icoEntries(ico);
    ASSERT_EQ(entries.size(), kIconSizes.size());
    for (const IcoEntry& e : entries) {
        SCOPED_TRACE("size " + std::to_string(e.width));
        const QImage colour = icoColourImage(ico, e);
        EXPECT_EQ(qAlpha(colour.pixel(0, 0)), 0) << "corner should be transparent";
        EXPECT_EQ(qAlpha(colour.pixel(e.width / 2, e.height / 2)), 255);
        int partial = 0;
        int mismatches = 0;
        for (int y = 0; y < e.height; ++y) {
            for (int x = 0; x < e.width; ++x) {
                const int a = qAlpha(colour.pixel(x, y));
                if (a > 0 && a < 255)
                    ++partial;
                if (icoMaskBit(ico, e, x, y) != (a == 0))
                    ++mismatches;
            }
        }
        EXPECT_GT(partial, 0) << "edges are not antialiased";
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(Icon, QtReadsEveryImageAndTheThemeCopiesMatchTheIco) {
    const auto ico = find("lumora.ico");
    const auto entries = icoEntries(ico);
    QByteArray bytes(reinterpret_cast<const char*>(ico.data()), static_cast<qsizetype>(ico.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "ico");
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    ASSERT_EQ(reader.imageCount(), static_cast<int>(entries.size()));
    // An independent reader must see the same pictures our directory describes.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(static_cast<int>(i)));
        const QImage qt = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(qt.size(), QSize(entries[i].width, entries[i].height));
        const QImage ours = icoColourImage(ico, entries[i]);
        int differing = 0;
        for (int y = 0; y < qt.height(); ++y)
            for (int x = 0; x < qt.width(); ++x)
                differing += qAlpha(qt.pixel(x, y)) != qAlpha(ours.pixel(x, y));
        EXPECT_EQ(differing, 0) << "size " << entries[i].width;
    }
    for (const IcoEntry& e : entries) {
        SCOPED_TRACE("size " + std::to_string(e.width));
        const std::string path = std::string(LUMORA_SOURCE_DIR) + "/assets/icons/hicolor/" +
                                 std::to_string(e.width) + "x" + std::to_string(e.width) +
                                 "/apps/lumora.png";
        const QImage png =
            QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(png.isNull()) << path;
        ASSERT_EQ(png.size(), QSize(e.width, e.height));
        const QImage colour = icoColourImage(ico, e);
        int differing = 0;
        for (int y = 0; y < e.height; ++y) {
            for (int x = 0; x < e.width; ++x) {
                const QRgb a = png.pixel(x, y);
                const QRgb b = colour.pixel(x, y);
                if (qAlpha(a) != qAlpha(b) || (qAlpha(a) != 0 && a != b))
                    ++differing;
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST(Pictures, BackgroundAndLogoHaveTheirWindowSizes) {
    const QImage background = decode("main_background.jpg");
    ASSERT_FALSE(background.isNull());
    EXPECT_EQ(background.size(), QSize(508, 354));
    const QImage logo = decode("logo.jpg");
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(703, 163));
}

TEST(Pictures, BackgroundStaysLightWhereTheLabelsSit) {
    const QImage background = decode("main_background.jpg");
    ASSERT_FALSE(background.isNull());
    // Folder caption row, folder label and hint block: dark text must read on every pixel.
    for (const QRect area : {QRect(0, 0, 104, 32), QRect(0, 24, 416, 48), QRect(11, 87, 256, 121),
                             QRect(19, 253, 213, 16), QRect(84, 224, 104, 16)}) {
        int darkest = 255;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                darkest = std::min(darkest, luma(background.pixel(x, y)));
        EXPECT_GE(darkest, 215) << area.x() << "," << area.y();
    }
}

namespace {

struct ButtonCase {
    const char* name;
    QSize size;
    QPoint place;  // where the window puts it over the background
};

constexpr const char* kStates[] = {"normal", "hover", "pressed", "disabled"};

const ButtonCase kButtonCases[] = {
    {"open_folder", QSize(120, 32), QPoint(249, 240)},
    {"background", QSize(95, 32), QPoint(375, 240)},
    {"change", QSize(80, 32), QPoint(416, 24)},
};

std::string buttonFile(const ButtonCase& b, const char* state) {
    return std::string("pic_") + b.name + "_" + state + ".png";
}

}  // namespace

TEST(PictureButtons, AllTwelveImagesExistWithTheirSizes) {
    for (const ButtonCase& b : kButtonCases) {
        for (const char* state : kStates) {
            const std::string file = buttonFile(b, state);
            const QImage image = decode(file);
            ASSERT_FALSE(image.isNull()) << file;
            EXPECT_EQ(image.size(), b.size) << file;
        }
    }
}

// The copies for 150 % and 200 % screens, of the sizes Windows gives the controls there
// (MulDiv rounds halves up), and drawn anew rather than enlarged: the 2x button has more
// distinct colours than its plain picture could give.
TEST(Pictures, BackgroundAndButtonsHaveCopiesForDenserScreens) {
    const auto scaled = [](QSize size, int percent) {
        return QSize((size.width() * percent + 50) / 100, (size.height() * percent + 50) / 100);
    };
    for (const auto& [suffix, percent] : {std::pair{"@1.5x", 150}, std::pair{"@2x", 200}}) {
        EXPECT_EQ(decode(std::string("main_background") + suffix + ".jpg").size(),
                  scaled(QSize(508, 354), percent));
        for (const ButtonCase& b : kButtonCases) {
            for (const char* state : kStates) {
                std::string file = buttonFile(b, state);
                file.insert(file.size() - 4, suffix);
                EXPECT_EQ(decode(file).size(), scaled(b.size, percent)) << file;
            }
        }
    }
    const auto colours = [](const QImage& image) {
        std::set<QRgb> seen;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                seen.insert(image.pixel(x, y));
        return seen.size();
    };
    EXPECT_GT(colours(decode("pic_change_normal@2x.png")),
              colours(decode("pic_change_normal.png")) * 3 / 2);
}

TEST(PictureButtons, StatesShowTheirColoursAndCaptions) {
    for (const ButtonCase& b : kButtonCases) {
        std::vector<QImage> states;
        for (const char* state : kStates)
            states.push_back(decode(buttonFile(b, state)).convertToFormat(QImage::Format_ARGB32));
        SCOPED_TRACE(b.name);
        ASSERT_EQ(states.size(), 4u);
        for (const QImage& s : states)
            ASSERT_FALSE(s.isNull());

        // Face colour just inside the left edge, clear of the caption.
        const QPoint face(4, b.size.height() / 2);
        const QRgb normal = states[0].pixel(face);
        const QRgb hover = states[1].pixel(face);
        const QRgb pressed = states[2].pixel(face);
        const QRgb disabled = states[3].pixel(face);
        EXPECT_GT(qBlue(normal), qRed(normal) + 60) << "normal should be blue";
        EXPECT_GT(qRed(hover), qGreen(hover) + 60) << "hover should be pink";
        EXPECT_GT(qBlue(hover), qGreen(hover)) << "hover should be pink, not orange";
        EXPECT_LT(luma(pressed), 70) << "pressed should be dark navy";
        EXPECT_GE(qBlue(pressed), qRed(pressed));
        EXPECT_GT(luma(disabled), 200) << "disabled should be light grey";
        EXPECT_LT(
            maxChannelDistance(disabled, qRgb(luma(disabled), luma(disabled), luma(disabled))), 16);

        // Caption ink: count the pixels close to the text colour of each state in the middle.
        const auto inkPixels = [&](const QImage& image, auto isInk) {
            int n = 0;
            const QRect middle(b.size.width() / 4, 8, b.size.width() / 2, 16);
            for (int y = middle.top(); y <= middle.bottom(); ++y)
                for (int x = middle.left(); x <= middle.right(); ++x)
                    n += isInk(image.pixel(x, y));
            return n;
        };
        const auto white = [](QRgb c) { return luma(c) > 235; };
        const auto grey = [](QRgb c) { return luma(c) > 130 && luma(c) < 220; };
        const auto black = [](QRgb c) { return luma(c) < 60; };
        EXPECT_GT(inkPixels(states[0], white), 20);
        EXPECT_GT(inkPixels(states[1], white), 20);
        EXPECT_GT(inkPixels(states[2], grey), 20);
        EXPECT_GT(inkPixels(states[3], black), 20);

        for (std::size_t i = 0; i < states.size(); ++i)
            for (std::size_t j = i + 1; j < states.size(); ++j)
                EXPECT_NE(states[i], states[j]) << kStates[i] << " vs " << kStates[j];
    }
}

TEST(PictureButtons, CornersBlendWithTheBackgroundBehindThem) {
    const QImage background = decode("main_background.jpg");
    ASSERT_FALSE(background.isNull());
    for (const ButtonCase& b : kButtonCases) {
        for (const char* state : kStates) {
            const QImage image = decode(buttonFile(b, state));
            ASSERT_FALSE(image.isNull());
            const int w = b.size.width() - 1;
            const int h = b.size.height() - 1;
            for (const QPoint corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) {
                const QRgb shown = image.pixel(corner);
                const QRgb behind = background.pixel(b.place + corner);
                // Either transparent, or the very colour of the background at that spot.
                if (qAlpha(shown) == 0)
                    continue;
                EXPECT_LE(maxChannelDistance(shown, behind), 6)
                    << buttonFile(b, state) << " corner " << corner.x() << "," << corner.y();
            }
        }
    }
}
