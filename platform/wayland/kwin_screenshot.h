#pragma once
// The active window and the whole desktop through KWin's org.kde.KWin.ScreenShot2 interface
// (Plasma 5.27 and later). KWin answers CaptureActiveWindow and CaptureWorkspace with the
// picture's layout and writes its raw pixels into a pipe the caller passes: no file, no PNG.
// It serves only a program whose desktop entry names the interface in
// X-KDE-DBUS-Restricted-Interfaces and names the program by its absolute path in Exec= (the
// entry installed beside the program is written so at install time).
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QVariantMap>
#include <functional>

namespace lumora::platform::wayland {

// CaptureActiveWindow({include-decoration: true, include-cursor: false, include-shadow: false,
// native-resolution: true}, pipe): the frame is part of a window capture, as on X11.
QDBusMessage kwinCaptureActiveWindowCall(const QDBusUnixFileDescriptor& pipe);
// CaptureWorkspace({include-cursor: false, native-resolution: true}, pipe): every screen, as the
// desktop's own screenshot shows them.
QDBusMessage kwinCaptureWorkspaceCall(const QDBusUnixFileDescriptor& pipe);

// The D-Bus error KWin answers a program it does not grant the interface.
inline constexpr char kKWinNotAuthorizedError[] = "org.kde.KWin.ScreenShot2.Error.NoAuthorized";

// The picture from the call's results and the bytes read from the pipe, in 32-bit RGB; a null
// image when the results describe no raw picture those bytes can hold. KWin 5.27 puts a window
// inside a margin where its shadow would be (whatever include-shadow says), transparent at its
// edge with a faint shadow inside: a picture with transparency is cut to its fully opaque
// part, which is exactly the window with its frame.
QImage kwinImageFromResults(const QVariantMap& results, const QByteArray& data);

// What KWin gave: the picture, or a null image with the cause; `notAuthorized` when KWin
// refused because it does not know the program by its desktop entry.
struct KWinPicture {
    QImage image;
    QString failure;
    bool notAuthorized = false;
};
using KWinPictureDone = std::function<void(KWinPicture picture)>;

// Ask KWin for the active window, or the whole desktop; `done` runs on the GUI thread.
void captureActiveWindowWithKWin(KWinPictureDone done);
void captureWorkspaceWithKWin(KWinPictureDone done);

}  // namespace lumora::platform::wayland
