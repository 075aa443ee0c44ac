#pragma once
// The desktop services the windows call: folder chooser, opening folders and web pages,
// message boxes, the tray icon, window opacity, a pause that keeps the program responsive, and
// the frame colours of the standard controls. GUI thread only; built on Qt Widgets.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace lumora::platform {

// Modal; the program's other top-level windows are disabled meanwhile and restored after.
// The chosen path without a trailing "/" (except the root "/"), or empty text on cancel. It
// opens at `startFolder` (or the nearest folder above it that exists), where one is given.
std::string browseForFolder(std::string_view title, bool includeFiles = false,
                            std::string_view startFolder = {});

// Opens a path with the desktop's default handler; returns a value above 32 on success (as the
// callers expect of a shell call), 2 otherwise.
int openInShell(std::string_view path, int verb = 0, std::string_view parameters = {},
                std::string_view folder = {}, int show = 0);
void openWebAddress(std::string_view address);

// Message-box style bits: buttons in the low 4 bits (0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore,
// 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel), icon in bits 4-7 (0x10 stop, 0x20 question,
// 0x30 exclamation, 0x40 information). Result: 0 OK, 1 Cancel, 2 Abort, 3 Retry, 4 Ignore,
// 5 Yes, 6 No. Title "信息：" when none is given.
int showMessage(std::string_view text, int style = 0,
                std::optional<std::string_view> title = std::nullopt);

// The tray icon of `owner`: made from a ".ico" file image (the first 16-pixel entry that
// declares at least 16 colours, else the last entry; then 32-pixel entries), tip cut to 62
// bytes at a character boundary. A second call modifies the one icon; empty icon data (or data
// no icon can be made from) removes it.
void setTrayIcon(WindowHandle owner, std::span<const std::uint8_t> iconData = {},
                 std::string_view tip = {});
// Receives the tray events of every owner: 1 left click, 2 double click (after a 1),
// 3 right click or context-menu key.
void setTrayEventSink(std::function<void(WindowHandle owner, int event)> sink);
// Whether `owner` currently shows a tray icon (for callers and tests).
bool hasTrayIcon(WindowHandle owner);

// Whether a tray host shows tray icons now. Without one the tray icon and its menu show
// nowhere (GNOME without an extension): a hidden window could never be brought back.
bool trayHostPresent();

// A balloon message from the program's tray icon where a tray host is present (the desktop
// may show it as a notification); where none is, a desktop notification with the program's
// name and icon (also in a process without widgets, such as a one-off capture). False when
// nothing showed it (no icon up yet under a host, no notification server or one that refused),
// so the caller knows nobody saw it.
bool showTrayMessage(std::string_view title, std::string_view text, bool warning = true);

// 0..255; anything else counts as 255. False when the handle names no window of the program.
bool setWindowAlpha(WindowHandle window, int opacity = 255);

// Processes events while waiting `milliseconds`, sleeping in the event wait, not spinning.
void delayWithEvents(int milliseconds);

// 1 blue, 2 olive green, 3 silver frames on the standard controls of every window, present
// and future; other codes switch the scheme off.
bool applyControlScheme(int scheme);

}  // namespace lumora::platform
