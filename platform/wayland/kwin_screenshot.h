#pragma once
// The active window through KWin's org.kde.KWin.ScreenShot2 interface (Plasma 5.27 and later).
// KWin answers CaptureActiveWindow with the picture's layout and writes its raw pixels into a
// pipe the caller passes. It serves only programs whose desktop entry names the interface in
// X-KDE-DBUS-Restricted-Interfaces (assets/lumora.desktop does).
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QVariantMap>
#include <functional>

namespace lumora::platform::wayland {

// CaptureActiveWindow({include-decoration: true, include-cursor: false, include-shadow: false,
// native-resolution: true}, pipe): the frame is part of a window capture, as on X11.
QDBusMessage kwinCaptureActiveWindowCall(const QDBusUnixFileDescriptor& pipe);

// The picture from the call's results and the bytes read from the pipe; a null image when the
// results describe no raw picture those bytes can hold.
QImage kwinImageFromResults(const QVariantMap& results, const QByteArray& data);

// Asks KWin for the active window; `done` runs on the GUI thread with the picture (converted to
// 32-bit RGB) or a null image and the cause.
void captureActiveWindowWithKWin(std::function<void(QImage image, QString failure)> done);

}  // namespace lumora::platform::wayland
