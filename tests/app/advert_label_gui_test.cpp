// The advert label of the main window blinks between violet and blue on 时钟4's ticks.
#include <QTest>

#include "app/advert_label.h"
#include "tests/ui/window_test_helpers.h"

namespace lumora::app {
namespace {

using namespace ui::testing;
constexpr std::string_view M = ui::kMainWindow;

using AdvertLabelTest = WindowTest;

TEST_F(AdvertLabelTest, SwapAlternatesAndRepairsAnyOtherColour) {
    ui::openWindow(M);
    EXPECT_EQ(ui::textColour(M, "透明标签5"), kAdvertViolet);
    swapAdvertColour({});
    EXPECT_EQ(ui::textColour(M, "透明标签5"), kAdvertBlue);
    swapAdvertColour({});
    EXPECT_EQ(ui::textColour(M, "透明标签5"), kAdvertViolet);
    ui::setTextColour(M, "透明标签5", 0x00123456);
    swapAdvertColour({});
    EXPECT_EQ(ui::textColour(M, "透明标签5"), kAdvertViolet);
}

TEST_F(AdvertLabelTest, BlinksOnTheClockAlsoWhileTheWindowIsHidden) {
    static const ui::Binding table[] = {
        {M, "时钟4", ui::Event::Tick, &swapAdvertColour},
    };
    ui::installBindings(table);
    ui::openWindow(M);
    ui::setWindowVisible(M, false);
    EXPECT_TRUE(lumora::test::waitUntil(
        [] { return ui::textColour(M, "透明标签5") == kAdvertBlue; }, std::chrono::seconds(5)));
    EXPECT_TRUE(lumora::test::waitUntil(
        [] { return ui::textColour(M, "透明标签5") == kAdvertViolet; }, std::chrono::seconds(5)));
}

TEST_F(AdvertLabelTest, NothingHappensWithoutTheWindow) {
    swapAdvertColour({});
    EXPECT_EQ(ui::textColour(M, "透明标签5"), 0u);
}

}  // namespace
}  // namespace lumora::app
