#include "app/settings_visibility.h"

#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::settingswin {

namespace {

constexpr std::string_view soundMembers[] = {"按钮_音效试听", "音效1", "音效2", "音效3"};
constexpr std::string_view sizeMembers[] = {"透明标签1", "透明标签2", "透明标签3",
                                            "编辑框_自定义长", "编辑框_自定义宽"};
constexpr std::string_view namingMembers[] = {"标签2", "编辑框_自定义名"};
constexpr std::string_view timedMembers[] = {"标签_定时", "编辑框_定时",
                                             "选择框_定时截图_活动窗口"};
constexpr std::string_view intervalMembers[] = {"标签_间时", "编辑框_间时",
                                                "选择框_间断截图_活动窗口"};

constexpr DependentGroup groups[] = {
    {"选择框_开启音效", soundMembers},    {"自定义尺寸", sizeMembers},
    {"单选框_自定义命名", namingMembers}, {"选择框_定时截图", timedMembers},
    {"选择框_间断截图", intervalMembers},
};

void refresh(const DependentGroup& group) {
    constexpr std::string_view S = ui::kSettingsWindow;
    const bool shown = ui::controlSelected(S, group.owner);
    for (std::string_view member : group.members)
        ui::setControlVisible(S, member, shown);
}

}  // namespace

void refreshSoundGroup(const ui::EventArgs&) {
    refresh(groups[0]);
}
void refreshSizeGroup(const ui::EventArgs&) {
    refresh(groups[1]);
}
void refreshNamingGroup(const ui::EventArgs&) {
    refresh(groups[2]);
}
void refreshTimedGroup(const ui::EventArgs&) {
    refresh(groups[3]);
}
void refreshIntervalGroup(const ui::EventArgs&) {
    refresh(groups[4]);
}

std::span<const DependentGroup> dependentGroups() {
    return groups;
}

}  // namespace lumora::settingswin
