#pragma once
// The main window's and the tray menu's handlers: the capture folder (change, open), hiding to
// the tray and coming back, the tray icon's clicks, the menu items and the two link labels.
#include <string>
#include <string_view>

#include "ui/events.h"

namespace lumora::app {

// 按钮3 / 图形按钮1: the folder chooser. A chosen folder is shown with a trailing "/" (the root
// keeps its single one); cancelling resets the folder to platform::defaultCaptureFolder().
void changeCaptureFolder(const ui::EventArgs& args);
// 按钮1 / 图形按钮3 / menu 打开截图文件夹: the folder in the desktop's file browser; a message
// when no folder is set.
void openCaptureFolder(const ui::EventArgs& args);
// 按钮2 / 图形按钮2: hide the main window; the program goes on in the tray. Where no tray host
// shows the icon, the window is minimised instead, so the dock and the window switcher still
// bring it back.
void hideMainWindow(const ui::EventArgs& args);
// Menu 显示主窗口.
void showMainWindow(const ui::EventArgs& args);
// The main window shown, restored, raised and focused: the tray's clicks and menu, and a second
// start of the program asking the running one.
void bringMainWindowBack();
// Tray event of MainWindow: a = 1 (single click, the only click StatusNotifier hosts pass on)
// and 2 (double click) show the window, 3 (right click) pops up 菜单 at the cursor.
void onTray(const ui::EventArgs& args);
// Menu 设置: the settings window, modal.
void openSettings(const ui::EventArgs& args);
// Menu 退出: removes the tray icon and ends the program with exit code 0.
void exitProgram(const ui::EventArgs& args);
// Menu 作者信息 and 帮助 (the latter then opens the maker's web page).
void showAuthorInformation(const ui::EventArgs& args);
void showHelp(const ui::EventArgs& args);
// Left button down on 透明标签4 and on 透明标签5.
void openMakerPage(const ui::EventArgs& args);
void openDownloadPage(const ui::EventArgs& args);

inline constexpr std::string_view kFolderDialogTitle = "请选择保存文件夹";
inline constexpr std::string_view kNoFolderMessage = "您还没有设置截图默认保存目录";
inline constexpr std::string_view kAuthorCaption = "作者信息";
// The program's name as the desktop shows it (the tray icon's tooltip).
inline constexpr std::string_view kProgramName = "Lumora截图精灵";
inline constexpr std::string_view kAuthorText =
    "Lumora截图精灵 " LUMORA_VERSION " — Velmora 工作室出品，联系：support@velmora.example";
inline constexpr std::string_view kHelpCaption = "帮助";
inline constexpr std::string_view kHelpText = "您好，有什么意见和建议请到空间中留言，谢谢";
inline constexpr std::string_view kMakerPage = "https://velmora.example/";
inline constexpr std::string_view kDownloadPage = "https://velmora.example/download/";

// The capture folder for what the folder chooser returned: empty (cancelled) gives the default
// folder, a path already ending in "/" is kept, any other gets "/" appended.
std::string captureFolderFor(std::string_view chosen);

}  // namespace lumora::app
