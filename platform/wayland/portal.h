#pragma once
// The desktop portal's request protocol (org.freedesktop.portal.Request) and its Screenshot
// interface, over QtDBus. A portal answers a call with a request object at once and the result
// later, in a Response signal sent only to the connection that asked; a request whose caller
// goes away is dropped. So the caller names the request (handle_token), listens on its path
// before calling, and keeps its connection until the answer comes.
#include <sys/stat.h>
#include <sys/types.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <functional>

#include "platform/application_id.h"

namespace lumora::platform::wayland {

inline constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kScreenshotInterface[] = "org.freedesktop.portal.Screenshot";
inline constexpr char kNoScreenshotPortal[] = "no screenshot portal";

// The path the portal gives the request `token` of the connection `uniqueName` (":1.42").
QString requestPath(const QString& uniqueName, const QString& token);

// A token no other request of this process uses.
QString newHandleToken(const QString& prefix);

// Screenshot("", {handle_token, interactive: false}).
QDBusMessage screenshotCall(const QString& token);

// What a Screenshot request ended with: a local file, or why there is none. `refused`: the
// desktop said no (the user, or the permission it keeps), which the permission store can tell
// apart. Portal 1.16 answers a stored denial with 2 ("other"), not 1 ("cancelled").
struct ScreenshotAnswer {
    QString file;
    QString failure;
    bool refused = false;
};
ScreenshotAnswer parseScreenshotResponse(uint code, const QVariantMap& results);

// The program's own connection to the session bus for everything it asks the portals. Qt's
// platform themes read the portal's settings on the shared session connection as soon as the
// application starts (Plasma 6's does), and a portal ties a connection to the first
// application id it sees: Register is the first call of this one. Needs the application object.
QDBusConnection portalBus();
void closePortalBus();

// The name the program registers with the portal: its desktop entry's basename.
inline constexpr const char* kAppId = kApplicationId;
// The name earlier versions registered: permissions stored under it are moved over once.
inline constexpr char kOldAppId[] = "lumora";

// org.freedesktop.host.portal.Registry (xdg-desktop-portal 1.19 and later): Register(app_id,
// {}) makes the permissions this connection asks for the program's own rather than those of
// every program outside a sandbox. Must come before any other portal call of the connection.
inline constexpr char kRegistryInterface[] = "org.freedesktop.host.portal.Registry";
QDBusMessage registerAppCall(const QString& appId);
// Whether a failed Register only means the portal has no registry (older portals).
bool isMissingInterface(const QDBusError& error);

// The screenshot permission the desktop keeps for `appId` ("" for programs outside a sandbox
// that did not register) in the permission store's "screenshot" table.
enum class ScreenshotPermission { Unset, Allowed, Refused, Unknown };
QDBusMessage screenshotPermissionLookupCall();
// From Lookup's reply (a{sas} permissions, v data), or its error.
ScreenshotPermission screenshotPermissionOf(const QDBusMessage& reply, const QString& appId);

// The entry stored for `appId` in a Lookup reply; empty when there is none.
QStringList screenshotPermissionEntry(const QDBusMessage& reply, const QString& appId);
// SetPermission / DeletePermission of the "screenshot" entry of `appId`: a permission given to
// the old id is moved to the new one once.
QDBusMessage setScreenshotPermissionCall(const QString& appId, const QStringList& entry);
QDBusMessage deleteScreenshotPermissionCall(const QString& appId);

// The cause of a capture that would make the desktop ask, when nobody is there to answer: a
// one-off capture (a key of the desktop's, a script), or one made while the question is open.
// GNOME 45 and later do not ask for a program without a window in front and time out.
QString screenshotPermissionUnsetFailure();

// What a person runs to let the desktop ask again (the README gives the same command).
QString screenshotPermissionResetCommand(const QString& appId);
// The cause of a capture the stored permission refused, for standard error and the reports.
QString screenshotPermissionRefusal(const QString& appId);

// The cause for a person when the Screenshot call itself failed: a bus without the portal, or
// a portal without the interface, is "no screenshot portal".
QString screenshotCallFailure(const QDBusError& error);

// Whether the portal wrote the file described by `info` for a request sent at `requestStart`
// (CLOCK_REALTIME), so that it is ours to delete: a plain file of this user, written since.
bool isPortalFileOfRequest(const struct stat& info, uid_t user, const timespec& requestStart);

// Deletes the picture a Screenshot answer names when it is ours by the rules of
// isPortalFileOfRequest: for an answer that came after the request was given up.
void discardPortalFile(const QString& path, const timespec& requestStart);

// One request to a portal: listens for the Response at the request path, then sends the call;
// `answered` runs once on the GUI thread with the response code and results, or with code 2
// and the cause when the call failed or no answer came within `timeoutMs`. An answer that
// comes after the timeout goes to `late` (the portal may have written a file for it); the
// request listens for it until it comes or the program ends. Frees itself.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    using Answered = std::function<void(uint code, const QVariantMap& results, QString failure)>;
    using CallFailure = std::function<QString(const QDBusError&)>;
    using Late = std::function<void(uint code, const QVariantMap& results)>;

    static void start(QDBusConnection bus, const QDBusMessage& call, const QString& token,
                      int timeoutMs, Answered answered, CallFailure describe = {}, Late late = {});

private slots:
    void onResponse(uint code, const QVariantMap& results);

private:
    PortalRequest(QDBusConnection bus, Answered answered);
    void listenOn(const QString& path);
    void finish(uint code, const QVariantMap& results, const QString& failure);
    void stopListening();

    QDBusConnection bus_;
    Answered answered_;
    Late late_;
    bool timedOut_ = false;
    QStringList paths_;
    QTimer timeout_;
    bool finished_ = false;
};

}  // namespace lumora::platform::wayland
