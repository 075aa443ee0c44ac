#include "platform/qt/shell_notification.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <optional>

namespace lumora::platform::detail {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
// A server may start a helper of its own first (GNOME's runs on gjs) and needs a moment on a
// loaded machine; a server that does not answer in this time is taken as absent.
constexpr int kAnswerTimeoutMs = 5000;
// Every message alike: GNOME keeps low-urgency ones out of sight, and critical ones on the
// screen until dismissed.
constexpr unsigned char kNormalUrgency = 1;

// The "image-data" hint: (width, height, rowstride, has_alpha, bits_per_sample, channels, data).
QDBusArgument imageData(const QImage& icon) {
    const QImage rgba = icon.convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument argument;
    argument.beginStructure();
    argument << rgba.width() << rgba.height() << static_cast<int>(rgba.bytesPerLine()) << true << 8
             << 4
             << QByteArray(reinterpret_cast<const char*>(rgba.constBits()),
                           static_cast<qsizetype>(rgba.sizeInBytes()));
    argument.endStructure();
    return argument;
}

QDBusMessage call(const char* method) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
        QString::fromLatin1(method));
    // Only a server that runs now shows anything: the bus would start whichever desktop's
    // daemon is installed, outside its desktop (KDE's waits for a Plasma shell that never
    // comes, and the program with it).
    message.setAutoStartService(false);
    return message;
}

// Asked once per connection to a server; an unknown server is taken to read plain text.
bool serverReadsMarkup(QDBusConnection& bus) {
    static std::optional<bool> markup;
    if (markup)
        return *markup;
    const QDBusMessage reply = bus.call(call("GetCapabilities"), QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    markup = reply.arguments().front().toStringList().contains(QStringLiteral("body-markup"));
    return *markup;
}

}  // namespace

QVariantList notifyArguments(const QString& title, const QString& text, bool bodyMarkup,
                             const QImage& icon) {
    QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry)},
                      {QStringLiteral("urgency"), QVariant::fromValue(kNormalUrgency)}};
    if (!icon.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(imageData(icon)));
    return {QString::fromUtf8(kNotificationAppName),
            QVariant::fromValue(0u),
            QString::fromLatin1(kDesktopEntry),
            title,
            bodyMarkup ? text.toHtmlEscaped() : text,
            QStringList{},
            hints,
            QVariant::fromValue(-1)};
}

std::optional<bool> statusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierWatcher")
        << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return std::nullopt;
        return false;  // a watcher that cannot tell shows nothing either
    }
    if (reply.arguments().isEmpty())
        return false;
    return reply.arguments().front().value<QDBusVariant>().variant().toBool();
}

bool sendNotification(const QString& title, const QString& text, const QImage& icon) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = call("Notify");
    notify.setArguments(notifyArguments(title, text, serverReadsMarkup(bus), icon));
    const QDBusMessage reply = bus.call(notify, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // Once: callers may retry a message until something shows it.
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr, "lumora: the desktop shows no notifications: %s\n",
                     reply.errorMessage().toLocal8Bit().constData());
    }
    return false;
}

}  // namespace lumora::platform::detail
