#pragma once
// Messages as desktop notifications (org.freedesktop.Notifications over the session bus), for
// desktops where no tray host shows the program's icon or its balloons. GUI thread only.
#include <QImage>
#include <QString>
#include <QVariantList>
#include <optional>

#include "platform/application_id.h"

namespace lumora::platform::detail {

// The name the notification server shows as the sender, and the desktop entry it may take the
// program's name and icon from when the program is installed.
inline constexpr char kNotificationAppName[] = "Lumora截图精灵";
inline constexpr const char* kDesktopEntry = kApplicationId;

// The arguments of one Notify call, in order: the program's name and icon, `title` as the
// summary, `text` as the body (escaped where the server reads markup in it, so a folder named
// "a&b" or "<x>" arrives as written), `icon` as the image when it has one, the server's own
// display time.
QVariantList notifyArguments(const QString& title, const QString& text, bool bodyMarkup,
                             const QImage& icon);

// Sends one notification and waits for the server's answer. True only when a server took it;
// false without a session bus, without a server, or when the server refused it.
bool sendNotification(const QString& title, const QString& text, const QImage& icon);

// Whether the StatusNotifierWatcher on the session bus has a host that shows the icons it
// collects; nullopt when no watcher runs.
std::optional<bool> statusNotifierHostRegistered();

}  // namespace lumora::platform::detail
