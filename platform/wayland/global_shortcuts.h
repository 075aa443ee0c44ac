#pragma once
// The capture keys through org.freedesktop.portal.GlobalShortcuts (KDE Plasma 5.27 and later,
// GNOME 48 and later): a portal session holding two shortcuts, "screen" (preferred trigger
// Print) and "window" (Insert), which the desktop lets the user confirm or rebind; the portal
// then tells every activation.
//
// The session's token is the same in every run: Plasma 5.27 names the shortcut component after
// it (Plasma 6 after the registered application id), so keys the user assigns there apply in
// every later run. Every BindShortcuts makes Plasma open its shortcut settings (5.27 lists
// nothing and assigns nothing, yet delivers the keys of a known component), and GNOME 48 shows
// its "Add Keyboard Shortcuts" dialog; a session that did not bind still receives the keys the
// desktop lists. So the session first lists, and binds only when the desktop does not list
// both shortcuts with their keys and no earlier bind on this desktop was answered without keys:
// the desktop's dialog comes once, and what the person did there stands. GNOME 48 lists only
// what the current session bound, but answers a bind of shortcuts it already stored at once,
// without its dialog, so there every start binds again after an accepted dialog.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <string>

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

// The two shortcuts with their descriptions and preferred triggers (the shortcuts
// specification's form: "Print", "CTRL+Print", "LOGO+Insert").
PortalShortcuts captureShortcuts(const QString& screenTrigger = QStringLiteral("Print"),
                                 const QString& windowTrigger = QStringLiteral("Insert"));

// The session handle token of every run.
inline constexpr char kShortcutSessionToken[] = "lumora";

QDBusMessage createShortcutSessionCall(const QString& token, const QString& sessionToken);
QDBusMessage listShortcutsCall(const QString& session, const QString& token);
QDBusMessage bindShortcutsCall(const QString& session, const QString& token,
                               const PortalShortcuts& shortcuts = captureShortcuts());

// The session a CreateSession response names; empty when it names none.
QString shortcutSessionOf(const QVariantMap& results);

// The shortcuts a BindShortcuts response lists (each with the trigger the user chose, as
// "trigger_description"); the value may still be in its D-Bus form.
PortalShortcuts boundShortcutsOf(const QVariantMap& results);

// Whether every capture shortcut is in `shortcuts` with a trigger: an answer without
// shortcuts, or with shortcuts the user has no keys for, binds nothing.
bool captureShortcutsAssigned(const PortalShortcuts& shortcuts);

// After ListShortcuts: no bind when the desktop lists both with their keys (they apply without
// one), nor after an earlier bind here answered without keys: a desktop that never lists
// (Plasma 5.27), or a person who dismissed or emptied them in the desktop's dialog; asking again
// would open it at every start.
bool shouldBindShortcuts(const PortalShortcuts& listed, bool boundBefore);

// A key as KDE's kglobalaccel keeps it (a Qt key code with its modifier bits) in the
// shortcuts specification's trigger form ("LOGO+F8", "CTRL+SHIFT+Print"); empty for a key
// that form has no name for here.
QString portalTriggerOfKdeKey(int key);

// `shortcuts` with the first keys a KDE shortcut component (kglobalaccel's /component/<name>)
// holds for the same ids as preferred triggers: earlier versions used the component "lumora",
// which Plasma 6 does not carry over to the registered application id. The old component lets
// go of the keys it hands over (kglobalaccel gives a key to one component). Unchanged where
// the component or its keys are missing.
PortalShortcuts withKeysOfKdeComponent(const QString& component, PortalShortcuts shortcuts);

// The virtual key (keys.h) an activated shortcut stands for; 0 for an id of no capture.
int virtualKeyOfShortcut(const QString& id);

// Creates the session, lists and binds the shortcuts; calls `pressed` with the virtual key at
// every activation, and `ended` once with the cause when the portal gives no keys (not there,
// refused, failed, or bound without keys). Lives as long as the program. `bus` is the
// program's portal connection (portalBus()). `boundMarker` is a file that records a bind on
// this desktop answered without keys (empty: none is kept). `shortcuts`: captureShortcuts()
// with the triggers this desktop leaves free.
class GlobalShortcuts : public QObject {
    Q_OBJECT
public:
    GlobalShortcuts(QDBusConnection bus, std::function<void(int virtualKey)> pressed,
                    std::function<void(QString cause)> ended, QObject* parent = nullptr,
                    std::string boundMarker = {}, PortalShortcuts shortcuts = captureShortcuts());
    void start();
    // Before binding, offer the keys the KDE component `component` holds (see
    // withKeysOfKdeComponent).
    void offerKeysOfKdeComponent(QString component) { kdeComponent_ = std::move(component); }

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    void list();
    void bind(bool keysKnown);
    void end(const QString& cause);

    QDBusConnection bus_;
    QString session_;
    std::function<void(int)> pressed_;
    std::function<void(QString)> ended_;
    std::string boundMarker_;
    PortalShortcuts shortcuts_;
    QString kdeComponent_;
    bool ended_called_ = false;
};

}  // namespace lumora::platform::wayland

Q_DECLARE_METATYPE(lumora::platform::wayland::PortalShortcut)
