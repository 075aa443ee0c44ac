// The main window and its tray icon, as the user meets them.
#include "app/main_window.h"

#include "app/startup.h"
#include "capture/retention.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {

namespace {

constexpr std::string_view M = ui::kMainWindow;
constexpr std::string_view kFolderLabel = "透明标签1";
constexpr std::string_view kTrayMenu = "菜单";

constexpr int kTrayClick = 1;
constexpr int kTrayDoubleClick = 2;
constexpr int kTrayRightClick = 3;
constexpr int kInformationIcon = 0x40;

}  // namespace

std::string captureFolderFor(std::string_view chosen) {
    if (chosen.empty())
        return platform::defaultCaptureFolder();
    return platform::withTrailingSeparator(std::string(chosen));
}

void changeCaptureFolder(const ui::EventArgs&) {
    // The label changes only once the dialog has returned; captures that run meanwhile still
    // go to the folder shown before.
    const std::string chosen =
        platform::browseForFolder(kFolderDialogTitle, false, ui::controlText(M, kFolderLabel));
    const std::string folder = captureFolderFor(chosen);
    ui::setControlText(M, kFolderLabel, folder);
    // Scheduled captures an earlier run left there are kept to the limits from now on too.
    capture::checkRetention(folder);
}

void openCaptureFolder(const ui::EventArgs&) {
    const std::string folder = ui::controlText(M, kFolderLabel);
    if (folder.empty()) {
        platform::showMessage(kNoFolderMessage);
        return;
    }
    platform::openInShell(folder);
}

void hideMainWindow(const ui::EventArgs&) {
    // Hidden, the window comes back only through the tray icon; where no host shows the icon
    // (GNOME) it would be lost, with the program's 退出 in the tray menu.
    if (platform::trayHostPresent() && platform::hasTrayIcon(ui::windowHandle(M)))
        ui::setWindowVisible(M, false);
    else
        ui::minimizeWindow(M);
}

void showMainWindow(const ui::EventArgs&) {
    bringMainWindowBack();
}

void bringMainWindowBack() {
    ui::bringWindowToFront(M);
}

void onTray(const ui::EventArgs& args) {
    switch (args.a) {
        case kTrayClick:
        case kTrayDoubleClick:
            bringMainWindowBack();
            break;
        case kTrayRightClick:
            ui::popupMenu(M, kTrayMenu);
            break;
        default:
            break;
    }
}

void openSettings(const ui::EventArgs&) {
    ui::openWindowModal(ui::kSettingsWindow);
}

void exitProgram(const ui::EventArgs&) {
    endProgram(0);
}

void showAuthorInformation(const ui::EventArgs&) {
    platform::showMessage(kAuthorText, kInformationIcon, kAuthorCaption);
}

void showHelp(const ui::EventArgs&) {
    platform::showMessage(kHelpText, 0, kHelpCaption);
    platform::openWebAddress(kMakerPage);
}

void openMakerPage(const ui::EventArgs&) {
    platform::openWebAddress(kMakerPage);
}

void openDownloadPage(const ui::EventArgs&) {
    platform::openWebAddress(kDownloadPage);
}

}  // namespace lumora::app
