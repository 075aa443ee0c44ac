// The settings window's dependent groups, driven by clicks on their owners through the
// handlers the program binds, together with the tab pages' rule of what shows.
#include <QAbstractButton>
#include <QTest>

#include "app/settings_visibility.h"
#include "tests/ui/window_test_helpers.h"

namespace lumora::settingswin {
namespace {

using namespace ui::testing;
using ui::Binding;
using ui::Event;

constexpr std::string_view S = ui::kSettingsWindow;

const Binding table[] = {
    {S, "选择框_开启音效", Event::Clicked, &refreshSoundGroup},
    {S, "原尺寸", Event::Clicked, &refreshSizeGroup},
    {S, "自定义尺寸", Event::Clicked, &refreshSizeGroup},
    {S, "单选框_Lumora广告", Event::Clicked, &refreshNamingGroup},
    {S, "单选框_取现行时间", Event::Clicked, &refreshNamingGroup},
    {S, "单选框_自定义命名", Event::Clicked, &refreshNamingGroup},
    {S, "选择框_定时截图", Event::Clicked, &refreshTimedGroup},
    {S, "选择框_间断截图", Event::Clicked, &refreshIntervalGroup},
};

void click(std::string_view control) {
    auto* button = find<QAbstractButton>(S, control);
    ASSERT_NE(button, nullptr) << control;
    ASSERT_TRUE(button->isVisible()) << control;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Flag and what shows, for every member of the group of `owner`.
void expectGroup(std::string_view owner, bool flag, bool onScreen) {
    for (const DependentGroup& group : dependentGroups()) {
        if (group.owner != owner)
            continue;
        for (std::string_view member : group.members) {
            EXPECT_EQ(ui::controlVisible(S, member), flag) << member;
            EXPECT_EQ(find(S, member)->isVisible(), onScreen) << member;
        }
        return;
    }
    ADD_FAILURE() << "no group for " << owner;
}

class VisibilityTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::installBindings(table);
        ui::openWindow(S);
    }
};

TEST_F(VisibilityTest, EveryGroupStartsHidden) {
    for (const DependentGroup& group : dependentGroups())
        expectGroup(group.owner, false, false);
}

TEST_F(VisibilityTest, SoundCheckboxClickedTwiceRestoresThePage) {
    ui::setCurrentPage(S, "选择夹1", 1);
    click("选择框_开启音效");
    expectGroup("选择框_开启音效", true, true);
    click("选择框_开启音效");
    expectGroup("选择框_开启音效", false, false);
}

TEST_F(VisibilityTest, SizeGroupFollowsTheCustomRadioWhicheverWasClicked) {
    ui::setCurrentPage(S, "选择夹1", 3);
    click("自定义尺寸");
    expectGroup("自定义尺寸", true, true);
    click("原尺寸");
    expectGroup("自定义尺寸", false, false);
}

TEST_F(VisibilityTest, OtherNamingRadioKeepsThePrefixBoxHidden) {
    ui::setCurrentPage(S, "选择夹1", 4);
    click("单选框_取现行时间");
    expectGroup("单选框_自定义命名", false, false);
    click("单选框_自定义命名");
    expectGroup("单选框_自定义命名", true, true);
    click("单选框_Lumora广告");
    expectGroup("单选框_自定义命名", false, false);
}

TEST_F(VisibilityTest, ScheduleGroupsAreIndependent) {
    ui::setCurrentPage(S, "选择夹1", 5);
    click("选择框_定时截图");
    expectGroup("选择框_定时截图", true, true);
    expectGroup("选择框_间断截图", false, false);
    click("选择框_间断截图");
    expectGroup("选择框_间断截图", true, true);
    click("选择框_定时截图");
    expectGroup("选择框_定时截图", false, false);
    expectGroup("选择框_间断截图", true, true);
}

TEST_F(VisibilityTest, RefreshedWhileAnotherPageIsCurrentShowsWithItsPage) {
    // As the window's fill does: the owner set from code, the group refreshed on page 0.
    ui::setControlSelected(S, "选择框_间断截图", true);
    refreshIntervalGroup({});
    expectGroup("选择框_间断截图", true, false);
    ui::setCurrentPage(S, "选择夹1", 5);
    expectGroup("选择框_间断截图", true, true);
    ui::setCurrentPage(S, "选择夹1", 2);
    expectGroup("选择框_间断截图", true, false);
}

TEST_F(VisibilityTest, HandlersWithoutTheWindowDoNothing) {
    closeAll();
    refreshSoundGroup({});
    refreshSizeGroup({});
    refreshNamingGroup({});
    refreshTimedGroup({});
    refreshIntervalGroup({});
    EXPECT_FALSE(ui::isWindowOpen(S));
}

}  // namespace
}  // namespace lumora::settingswin
