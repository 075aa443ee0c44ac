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
    // The copy owns its pixels; `data` goes away with the caller.
    return view.convertToFormat(QImage::Format_RGB32);
}

void captureActiveWindowWithKWin(std::function<void(QImage image, QString failure)> done) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        done({}, QStringLiteral("no pipe for the window picture"));
        return;
    }
    QDBusPendingCall pending = [&] {
        // The message holds a duplicate of the write end; both go once the call is sent, so
        // the pipe ends when KWin closes its copy.
        const QDBusMessage call = kwinCaptureActiveWindowCall(QDBusUnixFileDescriptor(fds[1]));
        close(fds[1]);
        return QDBusConnection::sessionBus().asyncCall(call, 10000);
    }();
    const int readEnd = fds[0];
    auto* watcher = new QDBusPendingCallWatcher(pending, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [readEnd, done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         QDBusPendingReply<QVariantMap> reply = *w;
                         if (reply.isError()) {
                             close(readEnd);
                             done({}, QStringLiteral("KWin refused the window capture: ") +
                                          reply.error().message());
                             return;
                         }
                         const qint64 size = announcedSize(reply.value());
                         const QByteArray data =
                             size > 0 ? readExactly(readEnd, size, 5000) : QByteArray();
                         close(readEnd);
                         QImage image = kwinImageFromResults(reply.value(), data);
                         if (image.isNull()) {
                             done({}, QStringLiteral("KWin sent no usable window picture"));
                             return;
                         }
                         done(std::move(image), {});
                     });
}

}  // namespace lumora::platform::wayland
