#include "platform/screen_lock.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>

// What the desktop says on the buses, kept up to date by their signals: the screen saver of the
// session bus (GNOME, KDE, Xfce, Cinnamon, MATE; KDE names its object twice, GNOME has its own
// interface beside it) and logind's LockedHint of this session on the system bus, which the
// lock screens of GNOME and KDE set.
namespace lumora::platform {

namespace {

const QString kSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kGnomeSaverService = QStringLiteral("org.gnome.ScreenSaver");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

class ScreenLockWatcher : public QObject {
    Q_OBJECT
public:
    explicit ScreenLockWatcher(QObject* parent) : QObject(parent) {
        watchSessionBus();
        watchLogin();
    }

    bool locked() const { return saverActive_ || gnomeSaverActive_ || sessionLocked_; }

private slots:
    void saverChanged(bool active) { saverActive_ = active; }
    void gnomeSaverChanged(bool active) { gnomeSaverActive_ = active; }
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated) {
        if (interface != kSessionInterface)
            return;
        if (const auto it = changed.find(QStringLiteral("LockedHint")); it != changed.end())
            sessionLocked_ = it->toBool();
        else if (invalidated.contains(QStringLiteral("LockedHint")))
            askSessionLocked();
    }

private:
    void watchSessionBus() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        for (const QString& path :
             {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")})
            bus.connect(kSaverService, path, kSaverInterface, QStringLiteral("ActiveChanged"), this,
                        SLOT(saverChanged(bool)));
        bus.connect(kGnomeSaverService, QStringLiteral("/org/gnome/ScreenSaver"),
                    kGnomeSaverService, QStringLiteral("ActiveChanged"), this,
                    SLOT(gnomeSaverChanged(bool)));
        // A screen saver that starts after the program is asked then; one that ends says nothing.
        auto* services = new QDBusServiceWatcher(this);
        services->setConnection(bus);
        services->addWatchedService(kSaverService);
        services->addWatchedService(kGnomeSaverService);
        connect(services, &QDBusServiceWatcher::serviceRegistered, this,
                [this](const QString& name) {
                    name == kSaverService ? askSaver(QStringLiteral("/org/freedesktop/ScreenSaver"))
                                          : askGnomeSaver();
                });
        connect(services, &QDBusServiceWatcher::serviceUnregistered, this,
                [this](const QString& name) {
                    (name == kSaverService ? saverActive_ : gnomeSaverActive_) = false;
                });
        askSaver(QStringLiteral("/org/freedesktop/ScreenSaver"));
        askGnomeSaver();
    }

    // GetActive, at the object path most desktops use, else at the older one.
    void askSaver(const QString& path) {
        QDBusMessage call = QDBusMessage::createMethodCall(kSaverService, path, kSaverInterface,
                                                           QStringLiteral("GetActive"));
        call.setAutoStartService(false);
        whenAnswered(QDBusConnection::sessionBus(), call, [this, path](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                saverActive_ = reply.arguments().constFirst().toBool();
            else if (path != QStringLiteral("/ScreenSaver") &&
                     reply.errorName() !=
                         QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"))
                askSaver(QStringLiteral("/ScreenSaver"));
        });
    }

    void askGnomeSaver() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kGnomeSaverService, QStringLiteral("/org/gnome/ScreenSaver"), kGnomeSaverService,
            QStringLiteral("GetActive"));
        call.setAutoStartService(false);
        whenAnswered(QDBusConnection::sessionBus(), call, [this](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                gnomeSaverActive_ = reply.arguments().constFirst().toBool();
        });
    }

    // This process's session: the one the desktop started it in, else logind's choice for the
    // caller ("auto": its own session, or the user's graphical one).
    void watchLogin() {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return;
        const char* id = std::getenv("XDG_SESSION_ID");
        QDBusMessage call = QDBusMessage::createMethodCall(
            kLogin, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSession"));
        call << (id != nullptr && *id != '\0' ? QString::fromUtf8(id) : QStringLiteral("auto"));
        call.setAutoStartService(false);
        whenAnswered(bus, call, [this](const QDBusMessage& reply) {
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return;
            sessionPath_ = qvariant_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
            if (sessionPath_.isEmpty())
                return;
            QDBusConnection::systemBus().connect(
                kLogin, sessionPath_, kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
            askSessionLocked();
        });
    }

    void askSessionLocked() {
        QDBusMessage call = QDBusMessage::createMethodCall(kLogin, sessionPath_, kProperties,
                                                           QStringLiteral("Get"));
        call << kSessionInterface << QStringLiteral("LockedHint");
        call.setAutoStartService(false);
        whenAnswered(QDBusConnection::systemBus(), call, [this](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                sessionLocked_ =
                    qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
        });
    }

    // Start-up never waits for a bus: every question is answered later, on the GUI thread.
    template <typename Answer>
    void whenAnswered(QDBusConnection bus, const QDBusMessage& call, Answer answer) {
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [answer](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    answer(w->reply());
                });
    }

    bool saverActive_ = false;
    bool gnomeSaverActive_ = false;
    bool sessionLocked_ = false;
    QString sessionPath_;
};

QPointer<ScreenLockWatcher>& watcher() {
    static QPointer<ScreenLockWatcher> instance;
    return instance;
}

}  // namespace

void watchScreenLock() {
    static bool started = false;
    if (started || QCoreApplication::instance() == nullptr)
        return;
    started = true;
    // Owned by the application object, so it goes before the bus connections do.
    watcher() = new ScreenLockWatcher(QCoreApplication::instance());
}

bool screenLocked() {
    return watcher() && watcher()->locked();
}

}  // namespace lumora::platform

#include "screen_lock.moc"
