// The tray icon under a real tray host (trayer in the test session): the image chosen from the
// icon data, the tip, modify versus add, removal, and the mouse events a user raises on it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QSystemTrayIcon>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

constexpr WindowHandle kOwner = 0x5a5a01;

struct Image {
    int size;
    QColor colour;
    int declaredColours = 0;
    bool corrupt = false;
};

// A ".ico" file image with one entry per image, each encoded by Qt's own icon writer.
std::vector<std::uint8_t> makeIco(const std::vector<Image>& images) {
    std::vector<QByteArray> parts;
    for (const Image& i : images) {
        QImage img(i.size, i.size, QImage::Format_ARGB32);
        img.fill(i.colour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(img.save(&buffer, "ICO"));
        QByteArray image = bytes.mid(22);  // drop the one-entry directory
        if (i.corrupt)
            image.fill('\x7f');
        parts.push_back(image);
    }
    std::vector<std::uint8_t> out = {0, 0, 1, 0, static_cast<std::uint8_t>(images.size()), 0};
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t n = 0; n < images.size(); ++n) {
        const auto size = static_cast<std::uint32_t>(parts[n].size());
        const std::uint8_t entry[16] = {static_cast<std::uint8_t>(images[n].size),
                                        static_cast<std::uint8_t>(images[n].size),
                                        static_cast<std::uint8_t>(images[n].declaredColours),
                                        0,
                                        1,
                                        0,
                                        32,
                                        0,
                                        static_cast<std::uint8_t>(size),
                                        static_cast<std::uint8_t>(size >> 8),
                                        static_cast<std::uint8_t>(size >> 16),
                                        0,
                                        static_cast<std::uint8_t>(offset),
                                        static_cast<std::uint8_t>(offset >> 8),
                                        static_cast<std::uint8_t>(offset >> 16),
                                        0};
        out.insert(out.end(), std::begin(entry), std::end(entry));
        offset += size;
    }
    for (const QByteArray& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

QList<QSystemTrayIcon*> visibleTrayIcons() {
    QList<QSystemTrayIcon*> shown;
    for (QSystemTrayIcon* t : qApp->findChildren<QSystemTrayIcon*>(testing::kTrayIconName)) {
        if (t->isVisible())
            shown.push_back(t);
    }
    return shown;
}

// The colour in the middle of the icon the tray shows.
QColor shownColour() {
    const auto icons = visibleTrayIcons();
    if (icons.size() != 1)
        return {};
    const QIcon icon = icons.front()->icon();
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        return {};
    const QImage image = icon.pixmap(sizes.front()).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

class TrayIcon : public ::testing::Test {
protected:
    void SetUp() override { LUMORA_REQUIRE_X(); }
    void TearDown() override { setTrayIcon(kOwner); }
};

TEST_F(TrayIcon, TheProgramsIconShowsItsSixteenPixelImageWithTheTip) {
    const auto ico = assets::find("lumora.ico");
    ASSERT_FALSE(ico.empty());
    setTrayIcon(kOwner, ico, "Lumora技术");
    EXPECT_TRUE(hasTrayIcon(kOwner));
    const auto icons = visibleTrayIcons();
    ASSERT_EQ(icons.size(), 1);
    EXPECT_EQ(icons.front()->toolTip(), QStringLiteral("Lumora技术"));
    EXPECT_EQ(icons.front()->icon().availableSizes(), QList<QSize>{QSize(16, 16)});
    // The tray host docks it.
    EXPECT_TRUE(test::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    EXPECT_TRUE(test::waitUntil([&] { return icons.front()->geometry().x() > 0; }));
}

TEST_F(TrayIcon, ImageChoiceFollowsDeclaredColoursThenFallsBackToThirtyTwoPixels) {
    // No 16-pixel entry declares colours: the last entry.
    setTrayIcon(kOwner, makeIco({{32, Qt::green}, {16, Qt::red}, {48, Qt::blue}}));
    EXPECT_EQ(shownColour(), QColor(Qt::blue));
    // The first 16-pixel entry declaring at least 16 colours.
    setTrayIcon(kOwner, makeIco({{16, Qt::red, 8}, {16, Qt::green, 16}, {16, Qt::blue, 16}}));
    EXPECT_EQ(shownColour(), QColor(Qt::green));
    // The chosen entry cannot be decoded: a second look for 32-pixel entries.
    setTrayIcon(kOwner, makeIco({{32, Qt::yellow, 16}, {16, Qt::red, 0, true}}));
    EXPECT_EQ(shownColour(), QColor(Qt::yellow));
    // A PNG-compressed entry is decoded as well.
    QImage png(16, 16, QImage::Format_ARGB32);
    png.fill(Qt::magenta);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    png.save(&buffer, "PNG");
    std::vector<std::uint8_t> ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
    const auto size = static_cast<std::uint32_t>(bytes.size());
    ico.insert(ico.end(), {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8), 0,
                           0, 22, 0, 0, 0});
    ico.insert(ico.end(), bytes.begin(), bytes.end());
    setTrayIcon(kOwner, ico);
    EXPECT_EQ(shownColour(), QColor(Qt::magenta));
}

TEST_F(TrayIcon, ASecondCallModifiesTheOneIcon) {
    setTrayIcon(kOwner, makeIco({{16, Qt::red}}), "first");
    QSystemTrayIcon* first = visibleTrayIcons().value(0);
    setTrayIcon(kOwner, makeIco({{16, Qt::green}}), "second");
    const auto icons = visibleTrayIcons();
    ASSERT_EQ(icons.size(), 1);
    EXPECT_EQ(icons.front(), first);
    EXPECT_EQ(icons.front()->toolTip(), QStringLiteral("second"));
    EXPECT_EQ(shownColour(), QColor(Qt::green));
}

TEST_F(TrayIcon, LongTipIsCutToSixtyTwoBytesAtACharacterBoundary) {
    std::string tip;
    for (int i = 0; i < 25; ++i)
        tip += "截";  // 75 bytes
    setTrayIcon(kOwner, makeIco({{16, Qt::red}}), tip);
    const QString shown = visibleTrayIcons().value(0)->toolTip();
    EXPECT_EQ(shown.toUtf8().size(), 60);
    EXPECT_EQ(shown, QString(20, QChar(0x622A)));
}

TEST_F(TrayIcon, WithoutIconOrWithUnusableDataTheIconIsRemoved) {
    setTrayIcon(kOwner, makeIco({{16, Qt::red}}), "tip");
    ASSERT_TRUE(hasTrayIcon(kOwner));
    setTrayIcon(kOwner, {}, "tip");
    EXPECT_FALSE(hasTrayIcon(kOwner));
    EXPECT_TRUE(visibleTrayIcons().isEmpty());

    setTrayIcon(kOwner, makeIco({{16, Qt::red}}));
    const std::vector<std::uint8_t> junk(300, 0x41);
    setTrayIcon(kOwner, junk, "tip");
    EXPECT_FALSE(hasTrayIcon(kOwner));
    setTrayIcon(kOwner, makeIco({{16, Qt::red, 0, true}}));
    EXPECT_FALSE(hasTrayIcon(kOwner));
    // Removing what is not there is harmless; another owner keeps its icon.
    setTrayIcon(kOwner);
    setTrayIcon(kOwner + 1, makeIco({{16, Qt::red}}));
    setTrayIcon(kOwner);
    EXPECT_TRUE(hasTrayIcon(kOwner + 1));
    setTrayIcon(kOwner + 1);
    EXPECT_FALSE(hasTrayIcon(kOwner + 1));
}

TEST_F(TrayIcon, MouseOnTheDockedIconRaisesItsEvents) {
    std::vector<std::pair<WindowHandle, int>> events;
    setTrayEventSink([&](WindowHandle owner, int event) { events.emplace_back(owner, event); });
    setTrayIcon(kOwner, makeIco({{16, Qt::red}}), "click me");
    QSystemTrayIcon* icon = visibleTrayIcons().value(0);
    ASSERT_NE(icon, nullptr);
    // Docked once the host has reparented it into its panel, away from the origin.
    ASSERT_TRUE(test::waitUntil([&] { return icon->geometry().x() > 0; }));
    const QPoint centre = icon->geometry().center();
    const std::string move =
        "xdotool mousemove " + std::to_string(centre.x()) + " " + std::to_string(centre.y());

    ASSERT_EQ(test::runCommand(move + " click 1"), 0);
    ASSERT_TRUE(test::waitUntil([&] { return events.size() >= 1; }));
    EXPECT_EQ(events, (std::vector<std::pair<WindowHandle, int>>{{kOwner, 1}}));

    test::waitUntil([] { return false; }, std::chrono::milliseconds(600));  // no double click
    events.clear();
    ASSERT_EQ(test::runCommand(move + " click --repeat 2 --delay 60 1"), 0);
    ASSERT_TRUE(test::waitUntil([&] { return events.size() >= 2; }));
    EXPECT_EQ(events, (std::vector<std::pair<WindowHandle, int>>{{kOwner, 1}, {kOwner, 2}}));

    test::waitUntil([] { return false; }, std::chrono::milliseconds(600));
    events.clear();
    ASSERT_EQ(test::runCommand(move + " click 3"), 0);
    ASSERT_TRUE(test::waitUntil([&] { return events.size() >= 1; }));
    EXPECT_EQ(events, (std::vector<std::pair<WindowHandle, int>>{{kOwner, 3}}));

    // The handler may remove the icon it was called for (the exit item does).
    setTrayEventSink([&](WindowHandle owner, int) { setTrayIcon(owner); });
    ASSERT_EQ(test::runCommand(move + " click 1"), 0);
    EXPECT_TRUE(test::waitUntil([&] { return !hasTrayIcon(kOwner); }));
    setTrayEventSink({});
}

}  // namespace
}  // namespace lumora::platform
