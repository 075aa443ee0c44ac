#pragma once
// The settings window's dependent groups: each group of controls is visible exactly while the
// option that owns it is ticked or selected. Each handler reads its owner once and then writes
// only the visible property of the group's members, in order; the tab pages decide what shows.
#include <span>
#include <string_view>

#include "ui/events.h"

namespace lumora::settingswin {

struct DependentGroup {
    std::string_view owner;
    std::span<const std::string_view> members;
};

// 选择框_开启音效 -> 按钮_音效试听, 音效1, 音效2, 音效3
void refreshSoundGroup(const ui::EventArgs& args);
// 自定义尺寸 -> 透明标签1, 透明标签2, 透明标签3, 编辑框_自定义长, 编辑框_自定义宽
void refreshSizeGroup(const ui::EventArgs& args);
// 单选框_自定义命名 -> 标签2, 编辑框_自定义名
void refreshNamingGroup(const ui::EventArgs& args);
// 选择框_定时截图 -> 标签_定时, 编辑框_定时, 选择框_定时截图_活动窗口
void refreshTimedGroup(const ui::EventArgs& args);
// 选择框_间断截图 -> 标签_间时, 编辑框_间时, 选择框_间断截图_活动窗口
void refreshIntervalGroup(const ui::EventArgs& args);

// The five groups, for callers and tests.
std::span<const DependentGroup> dependentGroups();

}  // namespace lumora::settingswin
