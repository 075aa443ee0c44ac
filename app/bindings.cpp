// The program's event binding table. Each row names a handler of the layer that owns the
// behaviour; events without a row are ignored by the dispatcher.
#include "app/bindings.h"

#include "app/advert_label.h"
#include "app/main_window.h"
#include "app/settings_visibility.h"
#include "app/settings_window.h"
#include "app/startup.h"
#include "capture/schedule.h"
#include "capture/trigger.h"
#include "ui/logo_window.h"
#include "ui/windows.h"

namespace lumora::ui {

namespace {

constexpr std::string_view M = kMainWindow;
constexpr std::string_view S = kSettingsWindow;
constexpr std::string_view L = kLogoWindow;

const Binding table[] = {
    // --- MainWindow: start and stop ---
    {M, M, Event::Created, &app::onMainWindowCreated},
    {M, M, Event::Destroying, &app::onMainWindowDestroying},
    // --- MainWindow: capture timers ---
    {M, "时钟1", Event::Tick, &capture::pollHotkeys},
    {M, "时钟2", Event::Tick, &capture::intervalCaptureTick},
    {M, "时钟3", Event::Tick, &capture::timedCaptureTick},
    // --- MainWindow: folder, tray, menu, links ---
    {M, M, Event::Tray, &app::onTray},
    {M, "按钮3", Event::Clicked, &app::changeCaptureFolder},
    {M, "图形按钮1", Event::Clicked, &app::changeCaptureFolder},
    {M, "按钮1", Event::Clicked, &app::openCaptureFolder},
    {M, "图形按钮3", Event::Clicked, &app::openCaptureFolder},
    {M, "按钮2", Event::Clicked, &app::hideMainWindow},
    {M, "图形按钮2", Event::Clicked, &app::hideMainWindow},
    {M, "透明标签4", Event::LeftButtonDown, &app::openMakerPage},
    {M, "透明标签5", Event::LeftButtonDown, &app::openDownloadPage},
    {M, "显示主窗口", Event::Chosen, &app::showMainWindow},
    {M, "打开截图文件夹", Event::Chosen, &app::openCaptureFolder},
    {M, "设置", Event::Chosen, &app::openSettings},
    {M, "退出", Event::Chosen, &app::exitProgram},
    {M, "作者信息", Event::Chosen, &app::showAuthorInformation},
    {M, "帮助", Event::Chosen, &app::showHelp},
    {M, "时钟4", Event::Tick, &app::swapAdvertColour},
    // --- SettingsWindow ---
    {S, S, Event::Created, &settingswin::onCreated},
    {S, "立即生效", Event::Clicked, &settingswin::onApply},
    {S, "按钮_音效试听", Event::Clicked, &settingswin::onPreviewSound},
    {S, "选择框_定时截图", Event::MouseMoved, &settingswin::onTimedHover},
    {S, "选择框_定时截图_活动窗口", Event::MouseMoved, &settingswin::onTimedActiveWindowHover},
    {S, "选择框_间断截图", Event::MouseMoved, &settingswin::onIntervalHover},
    {S, "选择框_间断截图_活动窗口", Event::MouseMoved, &settingswin::onIntervalActiveWindowHover},
    {S, "选择框_开启音效", Event::Clicked, &settingswin::refreshSoundGroup},
    {S, "原尺寸", Event::Clicked, &settingswin::refreshSizeGroup},
    {S, "自定义尺寸", Event::Clicked, &settingswin::refreshSizeGroup},
    {S, "单选框_Lumora广告", Event::Clicked, &settingswin::refreshNamingGroup},
    {S, "单选框_取现行时间", Event::Clicked, &settingswin::refreshNamingGroup},
    {S, "单选框_自定义命名", Event::Clicked, &settingswin::refreshNamingGroup},
    {S, "选择框_定时截图", Event::Clicked, &settingswin::refreshTimedGroup},
    {S, "选择框_间断截图", Event::Clicked, &settingswin::refreshIntervalGroup},
    // --- LogoWindow ---
    {L, L, Event::Created, &onLogoWindowCreated},
};

}  // namespace

std::span<const Binding> programBindings() {
    return table;
}

}  // namespace lumora::ui
