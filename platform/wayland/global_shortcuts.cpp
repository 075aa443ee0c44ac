#include "platform/wayland/global_shortcuts.h"

#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/keys.h"
#include "platform/wayland/portal.h"

namespace lumora::platform::wayland {

namespace {

constexpr int kCallTimeoutMs = 30000;
// Binding may show the desktop's own dialog, where the user takes the time they need.
constexpr int kBindTimeoutMs = 10 * 60 * 1000;

// "screen = Ctrl+Print, window = Super+Insert", as the desktop describes the triggers.
QString describeShortcuts(const PortalShortcuts& shortcuts) {
    QStringList chosen;
    for (const PortalShortcut& s : shortcuts) {
        chosen << s.id + QStringLiteral(" = ") +
                      s.properties.value(QStringLiteral("trigger_description")).toString();
    }
    return chosen.join(QStringLiteral(", "));
}

QDBusMessage shortcutsCall(const QString& method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(kPortalService),
                                          QString::fromLatin1(kPortalPath),
                                          QString::fromLatin1(kGlobalShortcutsInterface), method);
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

void registerShortcutTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcuts>();
        return true;
    }();
    (void)registered;
}

PortalShortcuts captureShortcuts(const QString& screenTrigger, const QString& windowTrigger) {
    auto entry = [](const char* id, const char* description, const QString& trigger) {
        return PortalShortcut{QString::fromLatin1(id),
                              {{QStringLiteral("description"), QString::fromUtf8(description)},
                               {QStringLiteral("preferred_trigger"), trigger}}};
    };
    // The descriptions are what the desktop's shortcut settings list.
    return {entry("screen", "截取屏幕", screenTrigger),
            entry("window", "截取活动窗口", windowTrigger)};
}

QDBusMessage createShortcutSessionCall(const QString& token, const QString& sessionToken) {
    QDBusMessage call = shortcutsCall(QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), sessionToken}};
    return call;
}

QDBusMessage listShortcutsCall(const QString& session, const QString& token) {
    QDBusMessage call = shortcutsCall(QStringLiteral("ListShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(session))
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    return call;
}

QDBusMessage bindShortcutsCall(const QString& session, const QString& token,
                               const PortalShortcuts& shortcuts) {
    registerShortcutTypes();
    QDBusMessage call = shortcutsCall(QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts)
         << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
    return call;
}

QString shortcutSessionOf(const QVariantMap& results) {
    const QVariant value = results.value(QStringLiteral("session_handle"));
    // Version 1 of the interface documents a string; some portals send an object path.
    if (value.canConvert<QDBusObjectPath>() &&
        value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

PortalShortcuts boundShortcutsOf(const QVariantMap& results) {
    registerShortcutTypes();
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (!value.isValid())
        return {};
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("a(sa{sv})"))
            return {};
        return qdbus_cast<PortalShortcuts>(argument);
    }
    return value.value<PortalShortcuts>();
}

bool captureShortcutsAssigned(const PortalShortcuts& shortcuts) {
    for (const PortalShortcut& wanted : captureShortcuts()) {
        bool assigned = false;
        for (const PortalShortcut& s : shortcuts) {
            if (s.id == wanted.id &&
                !s.properties.value(QStringLiteral("trigger_description")).toString().isEmpty())
                assigned = true;
        }
        if (!assigned)
            return false;
    }
    return true;
}

bool shouldBindShortcuts(const PortalShortcuts& listed, bool boundBefore) {
    return !captureShortcutsAssigned(listed) && !boundBefore;
}

QString portalTriggerOfKdeKey(int key) {
    const int code = key & 0x01ffffff;  // less Qt's modifier bits
    QString name;
    if (code >= 'A' && code <= 'Z')
        name = QChar(code).toLower();
    else if (code >= '0' && code <= '9')
        name = QChar(code);
    else if (code >= 0x01000030 && code <= 0x01000052)  // Qt::Key_F1 to Key_F35
        name = QStringLiteral("F%1").arg(code - 0x01000030 + 1);
    else {
        // Qt's codes of the keys a capture shortcut is put on, and their xkb names.
        static const std::pair<int, const char*> kNamed[] = {
            {0x01000009, "Print"},     {0x01000006, "Insert"}, {0x01000007, "Delete"},
            {0x01000010, "Home"},      {0x01000011, "End"},    {0x01000016, "Page_Up"},
            {0x01000017, "Page_Down"}, {0x01000008, "Pause"},  {0x01000026, "Scroll_Lock"},
            {0x01000000, "Escape"},    {0x01000012, "Left"},   {0x01000013, "Up"},
            {0x01000014, "Right"},     {0x01000015, "Down"},   {0x20, "space"}};
        for (const auto& [qt, xkb] : kNamed)
            if (qt == code)
                name = QString::fromLatin1(xkb);
    }
    if (name.isEmpty())
        return {};
    QString trigger;
    if (key & 0x04000000)
        trigger += QStringLiteral("CTRL+");
    if (key & 0x08000000)
        trigger += QStringLiteral("ALT+");
    if (key & 0x02000000)
        trigger += QStringLiteral("SHIFT+");
    if (key & 0x10000000)
        trigger += QStringLiteral("LOGO+");
    return trigger + name;
}

PortalShortcuts withKeysOfKdeComponent(const QString& component, PortalShortcuts shortcuts) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/component/") + component,
        QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("allShortcutInfos"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        reply.signature() != QLatin1String("a(ssssssaiai)"))
        return shortcuts;
    const QDBusArgument infos = reply.arguments().at(0).value<QDBusArgument>();
    QStringList taken;
    infos.beginArray();
    while (!infos.atEnd()) {
        QString id, friendly, componentId, componentName, context, contextName;
        QList<int> keys, defaults;
        infos.beginStructure();
        infos >> id >> friendly >> componentId >> componentName >> context >> contextName >> keys >>
            defaults;
        infos.endStructure();
        const QString trigger = keys.isEmpty() ? QString() : portalTriggerOfKdeKey(keys.front());
        for (PortalShortcut& s : shortcuts) {
            if (s.id != id || trigger.isEmpty())
                continue;
            s.properties[QStringLiteral("preferred_trigger")] = trigger;
            taken << id;
        }
    }
    infos.endArray();
    // kglobalaccel gives a key to one component only: the old one lets go of the keys it hands
    // over, so that the new one can have them.
    for (const QString& id : taken) {
        QDBusMessage release = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
            QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("unregister"));
        release << component << id;
        QDBusConnection::sessionBus().call(release, QDBus::Block, 3000);
    }
    return shortcuts;
}

int virtualKeyOfShortcut(const QString& id) {
    if (id == QLatin1String("screen"))
        return kVkPrintScreen;
    if (id == QLatin1String("window"))
        return kVkInsert;
    return 0;
}

GlobalShortcuts::GlobalShortcuts(QDBusConnection bus, std::function<void(int)> pressed,
                                 std::function<void(QString)> ended, QObject* parent,
                                 std::string boundMarker, PortalShortcuts shortcuts)
    : QObject(parent),
      bus_(std::move(bus)),
      pressed_(std::move(pressed)),
      ended_(std::move(ended)),
      boundMarker_(std::move(boundMarker)),
      shortcuts_(std::move(shortcuts)) {}

void GlobalShortcuts::start() {
    registerShortcutTypes();
    // Whether the portal offers the interface at all: its version property answers.
    QDBusMessage probe = QDBusMessage::createMethodCall(
        QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    probe << QString::fromLatin1(kGlobalShortcutsInterface) << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(probe, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            end(QStringLiteral("the desktop offers no global shortcuts"));
            return;
        }
        const QString token = newHandleToken(QStringLiteral("keys"));
        PortalRequest::start(
            bus_, createShortcutSessionCall(token, QString::fromLatin1(kShortcutSessionToken)),
            token, kCallTimeoutMs,
            [self = QPointer<GlobalShortcuts>(this)](uint code, const QVariantMap& results,
                                                     const QString& failure) {
                if (!self)
                    return;
                GlobalShortcuts* const that = self;
                that->session_ = code == 0 ? shortcutSessionOf(results) : QString();
                if (that->session_.isEmpty()) {
                    that->end(failure.isEmpty() ? QStringLiteral("no global shortcut session")
                                                : failure);
                    return;
                }
                that->list();
            });
    });
}

void GlobalShortcuts::list() {
    // Activations of a known component may come before or without any bind.
    bus_.connect(QString(), QString::fromLatin1(kPortalPath),
                 QString::fromLatin1(kGlobalShortcutsInterface), QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QString token = newHandleToken(QStringLiteral("list"));
    PortalRequest::start(
        bus_, listShortcutsCall(session_, token), token, kCallTimeoutMs,
        [self = QPointer<GlobalShortcuts>(this)](uint code, const QVariantMap& results,
                                                 const QString&) {
            if (!self)
                return;
            // A portal that cannot list is asked to bind, as one that lists nothing.
            const PortalShortcuts listed =
                code == 0 ? boundShortcutsOf(results) : PortalShortcuts();
            std::error_code error;
            const bool boundBefore =
                !self->boundMarker_.empty() && std::filesystem::exists(self->boundMarker_, error);
            if (shouldBindShortcuts(listed, boundBefore)) {
                self->bind(captureShortcutsAssigned(listed));
                return;
            }
            if (captureShortcutsAssigned(listed)) {
                std::fprintf(stderr, "lumora: capture keys: %s\n",
                             describeShortcuts(listed).toLocal8Bit().constData());
                return;
            }
            std::fprintf(stderr,
                         "lumora: capture keys: the desktop lists no shortcuts; not binding "
                         "again (keys assigned in the desktop's shortcut settings still apply)\n");
        });
}

void GlobalShortcuts::bind(bool keysKnown) {
    const QString token = newHandleToken(QStringLiteral("bind"));
    // Keys a person chose under the component of earlier versions follow to the new one.
    const PortalShortcuts offered =
        kdeComponent_.isEmpty() ? shortcuts_ : withKeysOfKdeComponent(kdeComponent_, shortcuts_);
    PortalRequest::start(
        bus_, bindShortcutsCall(session_, token, offered), token, kBindTimeoutMs,
        [self = QPointer<GlobalShortcuts>(this), keysKnown](uint code, const QVariantMap& results,
                                                            const QString& failure) {
            if (!self)
                return;
            // GNOME 48.0's portal backend answers an accepted bind with 2 ("other") although the
            // shell grabbed the keys and the answer lists them: the listed keys decide.
            const PortalShortcuts bound =
                failure.isEmpty() ? boundShortcutsOf(results) : PortalShortcuts();
            // Answered without keys (refused, dismissed, or Plasma 5.27's empty answer): the
            // desktop's dialog is not shown again at every start. Answered with keys, nothing is
            // kept: Plasma 6 lists them from then on, and GNOME 48 lists only what this session
            // bound but answers a later bind of the ids it stored without a dialog.
            if (failure.isEmpty() && !captureShortcutsAssigned(bound) &&
                !self->boundMarker_.empty()) {
                const std::filesystem::path marker(self->boundMarker_);
                std::error_code ignored;
                std::filesystem::create_directories(marker.parent_path(), ignored);
                if (std::FILE* file = std::fopen(marker.c_str(), "w"))
                    std::fclose(file);
            }
            if (code != 0 && !captureShortcutsAssigned(bound)) {
                self->end(failure.isEmpty() ? QStringLiteral("the global shortcuts were refused")
                                            : failure);
                return;
            }
            // Plasma 5.27 answers success with no shortcuts and assigns no keys: nothing
            // would ever be pressed, so the user must hear where to assign them.
            if (!captureShortcutsAssigned(bound) && !keysKnown) {
                self->end(QStringLiteral("the desktop bound no keys to the capture shortcuts"));
                return;
            }
            // The user may have chosen other keys in the desktop's dialog.
            std::fprintf(stderr, "lumora: capture keys: %s\n",
                         describeShortcuts(bound).toLocal8Bit().constData());
        });
}

void GlobalShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                  const QVariantMap&) {
    if (session.path() != session_)
        return;
    if (const int key = virtualKeyOfShortcut(id); key != 0 && pressed_)
        pressed_(key);
}

void GlobalShortcuts::end(const QString& cause) {
    if (ended_called_)
        return;
    ended_called_ = true;
    if (ended_)
        ended_(cause);
}

}  // namespace lumora::platform::wayland
