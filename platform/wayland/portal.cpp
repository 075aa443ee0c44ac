#include "platform/wayland/portal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <optional>

namespace lumora::platform::wayland {

QString requestPath(const QString& uniqueName, const QString& token) {
    QString sender = uniqueName.startsWith(QLatin1Char(':')) ? uniqueName.mid(1) : uniqueName;
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString newHandleToken(const QString& prefix) {
    static std::atomic<unsigned> counter{0};
    // Object path elements allow letters, digits and "_" only.
    return QStringLiteral("lumora_%1_%2_%3")
        .arg(prefix)
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

QDBusMessage screenshotCall(const QString& token) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
        QString::fromLatin1(kScreenshotInterface), QStringLiteral("Screenshot"));
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("interactive"), false}};
    call << QString() << options;
    return call;
}

ScreenshotAnswer parseScreenshotResponse(uint code, const QVariantMap& results) {
    // 1: the user cancelled; 2: ended otherwise, which is how GNOME's portal answers both a
    // "Deny" in its dialog and every request after it.
    if (code == 1 || code == 2)
        return {{}, QStringLiteral("the screenshot was refused"), true};
    if (code != 0)
        return {{}, QStringLiteral("the screenshot portal failed")};
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isValid() || !uri.isLocalFile() || uri.toLocalFile().isEmpty())
        return {{}, QStringLiteral("the screenshot portal gave no picture")};
    return {uri.toLocalFile(), {}};
}

QDBusMessage registerAppCall(const QString& appId) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
        QString::fromLatin1(kRegistryInterface), QStringLiteral("Register"));
    call << appId << QVariantMap();
    return call;
}

bool isMissingInterface(const QDBusError& error) {
    switch (error.type()) {
        case QDBusError::UnknownInterface:
        case QDBusError::UnknownMethod:
        case QDBusError::UnknownObject:
        case QDBusError::ServiceUnknown:
            return true;
        default:
            return false;
    }
}

namespace {
constexpr char kPermissionStoreService[] = "org.freedesktop.impl.portal.PermissionStore";
constexpr char kPermissionStorePath[] = "/org/freedesktop/impl/portal/PermissionStore";

using Permissions = QMap<QString, QStringList>;

std::optional<Permissions> permissionsOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant first = reply.arguments().constFirst();
    if (first.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument argument = first.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("a{sas}"))
            return std::nullopt;
        return qdbus_cast<Permissions>(argument);
    }
    if (first.userType() == qMetaTypeId<Permissions>())
        return first.value<Permissions>();  // a reply made in this process
    return std::nullopt;
}

QDBusMessage permissionStoreCall(const QString& method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(kPermissionStoreService),
                                          QString::fromLatin1(kPermissionStorePath),
                                          QString::fromLatin1(kPermissionStoreService), method);
}

constexpr char kPortalConnection[] = "lumora-portal";

}  // namespace

QDBusMessage screenshotPermissionLookupCall() {
    QDBusMessage call = permissionStoreCall(QStringLiteral("Lookup"));
    call << QStringLiteral("screenshot") << QStringLiteral("screenshot");
    return call;
}

QDBusConnection portalBus() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                         QString::fromLatin1(kPortalConnection));
}

void closePortalBus() {
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kPortalConnection));
}

QStringList screenshotPermissionEntry(const QDBusMessage& reply, const QString& appId) {
    const auto permissions = permissionsOf(reply);
    return permissions ? permissions->value(appId) : QStringList();
}

QDBusMessage setScreenshotPermissionCall(const QString& appId, const QStringList& entry) {
    QDBusMessage call = permissionStoreCall(QStringLiteral("SetPermission"));
    call << QStringLiteral("screenshot") << true << QStringLiteral("screenshot") << appId << entry;
    return call;
}

QDBusMessage deleteScreenshotPermissionCall(const QString& appId) {
    QDBusMessage call = permissionStoreCall(QStringLiteral("DeletePermission"));
    call << QStringLiteral("screenshot") << QStringLiteral("screenshot") << appId;
    return call;
}

QString screenshotPermissionUnsetFailure() {
    return QStringLiteral(
        "the desktop has not been asked yet whether Lumora may take screenshots (its "
        "screenshot permission is unset); start Lumora once and answer the desktop's question");
}

ScreenshotPermission screenshotPermissionOf(const QDBusMessage& reply, const QString& appId) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // A store that has never heard of the table or the entry: nobody was asked yet.
        return reply.errorName() == QLatin1String("org.freedesktop.portal.Error.NotFound")
                   ? ScreenshotPermission::Unset
                   : ScreenshotPermission::Unknown;
    }
    const auto permissions = permissionsOf(reply);
    if (!permissions)
        return ScreenshotPermission::Unknown;
    const auto it = permissions->constFind(appId);
    if (it == permissions->constEnd() || it->isEmpty())
        return ScreenshotPermission::Unset;
    if (it->constFirst() == QLatin1String("yes"))
        return ScreenshotPermission::Allowed;
    if (it->constFirst() == QLatin1String("no"))
        return ScreenshotPermission::Refused;
    return ScreenshotPermission::Unset;  // "ask": the desktop asks each time
}

QString screenshotPermissionResetCommand(const QString& appId) {
    return QStringLiteral(
               "gdbus call --session --dest %1 --object-path %2 --method "
               "%1.DeletePermission screenshot screenshot '%3'")
        .arg(QString::fromLatin1(kPermissionStoreService),
             QString::fromLatin1(kPermissionStorePath), appId);
}

QString screenshotPermissionRefusal(const QString& appId) {
    return QStringLiteral(
               "refused by the desktop's screenshot permission; to let the desktop "
               "ask again, run: ") +
           screenshotPermissionResetCommand(appId);
}

QString screenshotCallFailure(const QDBusError& error) {
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
        case QDBusError::UnknownInterface:
        case QDBusError::UnknownMethod:
        case QDBusError::UnknownObject:
            return QString::fromLatin1(kNoScreenshotPortal);
        case QDBusError::Disconnected:
            return QStringLiteral("no session bus");
        case QDBusError::NoReply:
        case QDBusError::Timeout:
        case QDBusError::TimedOut:
            return QStringLiteral("the screenshot portal did not answer");
        default:
            return QStringLiteral("the screenshot portal failed: ") + error.message();
    }
}

bool isPortalFileOfRequest(const struct stat& info, uid_t user, const timespec& requestStart) {
    if (!S_ISREG(info.st_mode) || info.st_uid != user || info.st_nlink != 1)
        return false;
    // Written after the request went out; a second of slack for file systems whose times are
    // coarser than the clock (the portal's own clock reading comes later than ours anyway).
    return info.st_mtim.tv_sec >= requestStart.tv_sec - 1;
}

void discardPortalFile(const QString& path, const timespec& requestStart) {
    const QByteArray name = QFile::encodeName(path);
    // Never through a link: the file may sit in a shared folder such as /tmp.
    const int fd = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat info {};
    const bool ours = fstat(fd, &info) == 0 && isPortalFileOfRequest(info, geteuid(), requestStart);
    close(fd);
    struct stat now {};
    // Only the very file looked at: another process may have put a new one in its place.
    if (ours && lstat(name.constData(), &now) == 0 && now.st_ino == info.st_ino &&
        now.st_dev == info.st_dev)
        unlink(name.constData());
}

// Owned by the application object, so a request still open at the end goes with it rather than
// outliving the bus it listens on.
PortalRequest::PortalRequest(QDBusConnection bus, Answered answered)
    : QObject(QCoreApplication::instance()), bus_(std::move(bus)), answered_(std::move(answered)) {
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        finish(2, {}, QStringLiteral("the portal did not answer"));
    });
}

void PortalRequest::start(QDBusConnection bus, const QDBusMessage& call, const QString& token,
                          int timeoutMs, Answered answered, CallFailure describe, Late late) {
    auto* request = new PortalRequest(bus, std::move(answered));
    request->late_ = std::move(late);
    if (!bus.isConnected()) {
        request->finish(2, {}, describe ? describe(bus.lastError()) : bus.lastError().message());
        return;
    }
    // Listen first: the answer can come before the call's own reply has been read.
    request->listenOn(requestPath(bus.baseService(), token));
    request->timeout_.start(timeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request,
            [request, describe](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    if (request->finished_) {
                        // Given up on, and no answer will come.
                        request->late_ = {};
                        request->stopListening();
                        return;
                    }
                    const QDBusError error = reply.error();
                    request->finish(2, {}, describe ? describe(error) : error.message());
                    return;
                }
                // A portal older than handle_token names the request itself.
                request->listenOn(reply.value().path());
            });
}

void PortalRequest::listenOn(const QString& path) {
    if (finished_ || paths_.contains(path))
        return;
    paths_ << path;
    bus_.connect(QString(), path, QStringLiteral("org.freedesktop.portal.Request"),
                 QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint code, const QVariantMap& results) {
    if (finished_) {
        // The answer to a request given up on: only what it left behind is dealt with.
        if (!timedOut_ || !late_)
            return;
        Late late = std::move(late_);
        late_ = {};
        stopListening();
        late(code, results);
        return;
    }
    finish(code, results, {});
}

void PortalRequest::stopListening() {
    for (const QString& path : paths_) {
        bus_.disconnect(QString(), path, QStringLiteral("org.freedesktop.portal.Request"),
                        QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    }
    deleteLater();
}

void PortalRequest::finish(uint code, const QVariantMap& results, const QString& failure) {
    if (finished_)
        return;
    finished_ = true;
    timeout_.stop();
    // A request that timed out may still be answered: it listens on for that answer.
    if (!(timedOut_ && late_))
        stopListening();
    if (answered_)
        answered_(code, results, failure);
}

}  // namespace lumora::platform::wayland
