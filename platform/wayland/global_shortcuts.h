#pragma once
// The capture keys through org.freedesktop.portal.GlobalShortcuts (KDE Plasma 5.27 and later,
// GNOME 48 and later): a portal session holding two shortcuts, "screen" (preferred trigger
// Print) and "window" (Insert), which the desktop lets the user confirm or rebind; the portal
// then tells every activation.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace lumora::platform::wayland {

inline constexpr char kGlobalShortcutsInterface[] = "org.freedesktop.portal.GlobalShortcuts";

// One entry of the a(sa{sv}) lists the interface passes.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;
QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut);

// Registers the types with QtDBus; needed once before a message carries them.
void registerShortcutTypes();

// The two shortcuts with their descriptions and preferred triggers.
PortalShortcuts captureShortcuts();

QDBusMessage createShortcutSessionCall(const QString& token, const QString& sessionToken);
QDBusMessage bindShortcutsCall(const QString& session, const QString& token);

// The session a CreateSession response names; empty when it names none.
QString shortcutSessionOf(const QVariantMap& results);

// The shortcuts a BindShortcuts response lists (each with the trigger the user chose, as
// "trigger_description"); the value may still be in its D-Bus form.
PortalShortcuts boundShortcutsOf(const QVariantMap& results);

// The virtual key (keys.h) an activated shortcut stands for; 0 for an id of no capture.
int virtualKeyOfShortcut(const QString& id);

// Creates the session and binds the shortcuts; calls `pressed` with the virtual key at every
// activation, and `ended` once with the cause when the portal cannot offer them (not there,
// refused, failed). Lives as long as the program.
class GlobalShortcuts : public QObject {
    Q_OBJECT
public:
    GlobalShortcuts(std::function<void(int virtualKey)> pressed,
                    std::function<void(QString cause)> ended, QObject* parent = nullptr);
    void start();

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    void bind();
    void end(const QString& cause);

    QDBusConnection bus_;
    QString session_;
    std::function<void(int)> pressed_;
    std::function<void(QString)> ended_;
    bool ended_called_ = false;
};

}  // namespace lumora::platform::wayland

Q_DECLARE_METATYPE(lumora::platform::wayland::PortalShortcut)
