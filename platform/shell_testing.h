#pragma once
// What tests of the shell services look for: the object names of the modal dialogs (found
// through QApplication::activeModalWidget) and of the tray icons (children of the application
// object), and the frame colour of the control scheme in force.
#include <cstdint>
#include <optional>
#include <string>

namespace lumora::platform::testing {

inline constexpr char kFolderDialogName[] = "lumoraFolderDialog";
inline constexpr char kMessageBoxName[] = "lumoraMessageBox";
inline constexpr char kTrayIconName[] = "lumoraTrayIcon";

// 0xRRGGBB of the frames drawn now, nullopt while the scheme is off.
std::optional<std::uint32_t> controlSchemeFrameColour();

// Tray balloons shown so far by showTrayMessage, and the title and text of the last one.
int trayMessagesShown();
std::string lastTrayMessage();

// The width in pixels of the tray icon made for `owner`; 0 when it has none. Windows only.
int trayIconWidth(std::uint64_t owner);

}  // namespace lumora::platform::testing
