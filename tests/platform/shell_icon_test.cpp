// Choosing the tray image from a ".ico" file image and cutting the tip: pure functions.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/shell_icon.h"

namespace lumora::platform::detail {
namespace {

struct IconEntry {
    int width;
    int colours;
    std::vector<std::uint8_t> image;
};

// An icon file image with the given entries, images stored one after another.
std::vector<std::uint8_t> makeIco(const std::vector<IconEntry>& entries) {
    std::vector<std::uint8_t> out = {0, 0, 1, 0, static_cast<std::uint8_t>(entries.size()), 0};
    std::size_t offset = 6 + 16 * entries.size();
    for (const IconEntry& s : entries) {
        const std::size_t size = s.image.size();
        const std::uint8_t entry[16] = {static_cast<std::uint8_t>(s.width & 0xFF),
                                        static_cast<std::uint8_t>(s.width & 0xFF),
                                        static_cast<std::uint8_t>(s.colours),
                                        0,
                                        1,
                                        0,
                                        32,
                                        0,
                                        static_cast<std::uint8_t>(size),
                                        static_cast<std::uint8_t>(size >> 8),
                                        0,
                                        0,
                                        static_cast<std::uint8_t>(offset),
                                        static_cast<std::uint8_t>(offset >> 8),
                                        0,
                                        0};
        out.insert(out.end(), std::begin(entry), std::end(entry));
        offset += size;
    }
    for (const IconEntry& s : entries)
        out.insert(out.end(), s.image.begin(), s.image.end());
    return out;
}

TEST(IcoDirectory, ReadsEveryEntryOfTheProgramsLayout) {
    // Five 32-bit images of 128, 64, 48, 32 and 16 pixels, no colour counts: the program's form.
    const auto ico = makeIco(
        {{128, 0, {1, 1, 1}}, {64, 0, {2, 2}}, {48, 0, {3}}, {32, 0, {4}}, {16, 0, {5, 5}}});
    const auto entries = readIcoDirectory(ico);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].width, 128);
    EXPECT_EQ(entries[4].width, 16);
    EXPECT_EQ(entries[4].size, 2u);
    EXPECT_EQ(ico[entries[4].offset], 5);
    EXPECT_EQ(entries[4].bitCount, 32);
    // No entry declares colours, so the last one (16 x 16) is taken for either width.
    EXPECT_EQ(selectIcoEntry(entries, 16)->offset, entries[4].offset);
    EXPECT_EQ(selectIcoEntry(entries, 32)->offset, entries[4].offset);
    // The tray on denser screens: the entry of the size (32 at 200 %), else the narrowest wider
    // one (32 for 24 at 150 %), else the widest; at 96 dpi the rule above.
    EXPECT_EQ(selectIcoEntryForSize(entries, 16)->offset, entries[4].offset);
    EXPECT_EQ(selectIcoEntryForSize(entries, 24)->width, 32);
    EXPECT_EQ(selectIcoEntryForSize(entries, 32)->width, 32);
    EXPECT_EQ(selectIcoEntryForSize(entries, 40)->width, 48);
    EXPECT_EQ(selectIcoEntryForSize(entries, 256)->width, 128);
    EXPECT_FALSE(selectIcoEntryForSize({}, 24).has_value());
}

TEST(IcoDirectory, PrefersTheFirstEntryOfTheWidthThatDeclaresSixteenColours) {
    const auto ico =
        makeIco({{16, 8, {1}}, {16, 16, {2}}, {32, 255, {3}}, {16, 16, {4}}, {48, 0, {5}}});
    const auto entries = readIcoDirectory(ico);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(ico[selectIcoEntry(entries, 16)->offset], 2);
    EXPECT_EQ(ico[selectIcoEntry(entries, 32)->offset], 3);
    EXPECT_EQ(ico[selectIcoEntry(entries, 64)->offset], 5);
}

TEST(IcoDirectory, StoredZeroWidthMeans256) {
    const auto entries = readIcoDirectory(makeIco({{0, 0, {1}}}));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].width, 256);
    EXPECT_EQ(entries[0].height, 256);
}

TEST(IcoDirectory, MalformedDataGivesNoEntryInsteadOfReadingOutOfBounds) {
    EXPECT_TRUE(readIcoDirectory({}).empty());
    const std::vector<std::uint8_t> notIcon = {'B', 'M', 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(readIcoDirectory(notIcon).empty());
    EXPECT_FALSE(selectIcoEntry({}, 16).has_value());

    // A directory that claims more entries than the data holds.
    auto ico = makeIco({{16, 0, {7, 7}}});
    ico[4] = 9;
    EXPECT_EQ(readIcoDirectory(ico).size(), 1u);
    ico = makeIco({{16, 0, {7, 7}}});
    ico.resize(ico.size() - 1);  // image cut short
    EXPECT_TRUE(readIcoDirectory(ico).empty());

    // An offset near 2^32 must not wrap around when checked.
    ico = makeIco({{16, 0, {7, 7}}});
    ico[6 + 12] = 0xFF, ico[6 + 13] = 0xFF, ico[6 + 14] = 0xFF, ico[6 + 15] = 0xFF;
    EXPECT_TRUE(readIcoDirectory(ico).empty());
}

TEST(IcoDirectory, SingleEntryFileKeepsTheEntryAndItsImage) {
    const auto ico = makeIco({{32, 0, {9, 9, 9}}, {16, 16, {1, 2, 3, 4}}});
    const auto entries = readIcoDirectory(ico);
    const auto one = singleEntryIco(ico, entries[1]);
    const auto back = readIcoDirectory(one);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].width, 16);
    EXPECT_EQ(back[0].colourCount, 16);
    EXPECT_EQ(back[0].offset, 22u);
    EXPECT_EQ(std::vector<std::uint8_t>(one.begin() + 22, one.end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(TipCut, KeepsShortTextsAndCutsLongOnesAtACharacterBoundary) {
    EXPECT_EQ(cutAtCharacterBoundary("Lumora技术", 62), "Lumora技术");
    const std::string ascii(70, 'a');
    EXPECT_EQ(cutAtCharacterBoundary(ascii, 62), std::string(62, 'a'));
    EXPECT_EQ(cutAtCharacterBoundary(std::string(62, 'a'), 62).size(), 62u);

    // 21 three-byte characters are 63 bytes: the 21st would be split, so 20 remain.
    std::string chinese;
    for (int i = 0; i < 21; ++i)
        chinese += "截";
    EXPECT_EQ(cutAtCharacterBoundary(chinese, 62).size(), 60u);
    // "a" + 20 characters is 61 bytes; the next character does not fit either.
    EXPECT_EQ(cutAtCharacterBoundary("a" + chinese, 62).size(), 61u);
    // A four-byte character straddling the limit.
    EXPECT_EQ(cutAtCharacterBoundary(std::string(60, 'a') + "😀", 62).size(), 60u);
}

TEST(TipCut, EndsAtAnEmbeddedNul) {
    EXPECT_EQ(cutAtCharacterBoundary(std::string("ab\0cd", 5), 62), "ab");
}

}  // namespace
}  // namespace lumora::platform::detail
