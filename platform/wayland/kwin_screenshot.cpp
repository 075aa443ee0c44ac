#include "platform/wayland/kwin_screenshot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <algorithm>
#include <chrono>

namespace lumora::platform::wayland {

namespace {

// A 1080p window is 8 MB; far more than an 8K screen holds is not a window picture.
constexpr qint64 kMaxPictureBytes = qint64{7680} * 4320 * 4 * 2;

// Reads `size` bytes; empty on failure, at an early end or after `timeoutMs`. The end of the
// pipe cannot be awaited: QtDBus keeps the sent message, and with it a copy of the write end,
// as long as the pending call lives.
QByteArray readExactly(int fd, qint64 size, int timeoutMs) {
    QByteArray data;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (data.size() < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1)
            return {};
        const std::size_t want =
            static_cast<std::size_t>(std::min<qint64>(size - data.size(), sizeof buffer));
        const ssize_t n = read(fd, buffer, want);
        if (n == 0)
            return {};
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return {};
        }
        data.append(buffer, n);
    }
    return data;
}

// The bytes the results announce; 0 when they announce nothing sensible.
qint64 announcedSize(const QVariantMap& results) {
    const qint64 stride = results.value(QStringLiteral("stride")).toLongLong();
    const qint64 height = results.value(QStringLiteral("height")).toLongLong();
    if (stride <= 0 || height <= 0 || stride > kMaxPictureBytes ||
        stride * height > kMaxPictureBytes)
        return 0;
    return stride * height;
}

// The smallest rectangle that holds every fully opaque pixel of an ARGB32 picture.
QRect opaqueBounds(const QImage& argb) {
    int left = argb.width(), right = -1, top = -1, bottom = -1;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) == 255) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first < 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Sends `call` (made with the write end of a new pipe) and reads the raw picture KWin writes.
void captureWithKWin(QDBusMessage (*makeCall)(const QDBusUnixFileDescriptor&), const char* what,
                     KWinPictureDone done) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        done({{}, QStringLiteral("no pipe for the picture from KWin"), false});
        return;
    }
    QDBusPendingCall pending = [&] {
        // The message holds a duplicate of the write end; both go once the call is sent, so
        // the pipe ends when KWin closes its copy.
        const QDBusMessage call = makeCall(QDBusUnixFileDescriptor(fds[1]));
        close(fds[1]);
        return QDBusConnection::sessionBus().asyncCall(call, 10000);
    }();
    const int readEnd = fds[0];
    auto* watcher = new QDBusPendingCallWatcher(pending, QCoreApplication::instance());
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [readEnd, what, done = std::move(done)](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            QDBusPendingReply<QVariantMap> reply = *w;
            if (reply.isError()) {
                close(readEnd);
                done({{},
                      QStringLiteral("KWin refused the %1 capture: %2")
                          .arg(QLatin1String(what), reply.error().message()),
                      reply.error().name() == QLatin1String(kKWinNotAuthorizedError)});
                return;
            }
            const qint64 size = announcedSize(reply.value());
            const QByteArray data = size > 0 ? readExactly(readEnd, size, 5000) : QByteArray();
            close(readEnd);
            QImage image = kwinImageFromResults(reply.value(), data);
            if (image.isNull()) {
                done({{},
                      QStringLiteral("KWin sent no usable %1 picture").arg(QLatin1String(what)),
                      false});
                return;
            }
            done({std::move(image), {}, false});
        });
}

}  // namespace

QDBusMessage kwinCaptureActiveWindowCall(const QDBusUnixFileDescriptor& pipe) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureActiveWindow"));
    const QVariantMap options{{QStringLiteral("include-decoration"), true},
                              {QStringLiteral("include-cursor"), false},
                              {QStringLiteral("include-shadow"), false},
                              {QStringLiteral("native-resolution"), true}};
    call << options << QVariant::fromValue(pipe);
    return call;
}

QDBusMessage kwinCaptureWorkspaceCall(const QDBusUnixFileDescriptor& pipe) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureWorkspace"));
    const QVariantMap options{{QStringLiteral("include-cursor"), false},
                              {QStringLiteral("native-resolution"), true}};
    call << options << QVariant::fromValue(pipe);
    return call;
}

QImage kwinImageFromResults(const QVariantMap& results, const QByteArray& data) {
    const QString type = results.value(QStringLiteral("type"), QStringLiteral("raw")).toString();
    if (type != QLatin1String("raw"))
        return {};
    bool ok[4] = {};
    const qint64 width = results.value(QStringLiteral("width")).toLongLong(&ok[0]);
    const qint64 height = results.value(QStringLiteral("height")).toLongLong(&ok[1]);
    const qint64 stride = results.value(QStringLiteral("stride")).toLongLong(&ok[2]);
    const qint64 format = results.value(QStringLiteral("format")).toLongLong(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || width <= 0 || height <= 0 || width > 32767 ||
        height > 32767 || format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
        return {};
    const auto imageFormat = static_cast<QImage::Format>(format);
    const int depth = QImage::toPixelFormat(imageFormat).bitsPerPixel();
    if (depth < 8 || stride < (width * depth + 7) / 8 || stride > kMaxPictureBytes ||
        stride * height != data.size())
        return {};
    const QImage view(reinterpret_cast<const uchar*>(data.constData()), static_cast<int>(width),
                      static_cast<int>(height), static_cast<qsizetype>(stride), imageFormat);
    if (!view.hasAlphaChannel()) {
        // The copy owns its pixels; `data` goes away with the caller.
        return view.convertToFormat(QImage::Format_RGB32);
    }
    const QImage argb = view.convertToFormat(QImage::Format_ARGB32);
    const QRect opaque = opaqueBounds(argb);
    if (opaque.isEmpty())
        return {};
    return argb.copy(opaque).convertToFormat(QImage::Format_RGB32);
}

void captureActiveWindowWithKWin(KWinPictureDone done) {
    captureWithKWin(&kwinCaptureActiveWindowCall, "window", std::move(done));
}

void captureWorkspaceWithKWin(KWinPictureDone done) {
    captureWithKWin(&kwinCaptureWorkspaceCall, "screen", std::move(done));
}

}  // namespace lumora::platform::wayland
