#include "app/capture_requests.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QMetaType>
#include <QObject>

#include "app/main_window.h"
#include "app/startup.h"
#include "capture/capture_and_save.h"
#include "platform/keys.h"

namespace lumora::app {

namespace {

// A running instance answers at once unless it is busy in a long handler; the person waits
// for the box meanwhile.
constexpr int kShowWindowTimeoutMs = 3'000;

class CaptureService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.lumora.Lumora")
    // Written out so callers reading the interface see what the answer is.
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"io.lumora.Lumora\">\n"
                "    <method name=\"CaptureScreen\">\n"
                "      <arg name=\"path\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"CaptureWindow\">\n"
                "      <arg name=\"path\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"ShowWindow\"/>\n"
                "  </interface>\n")

public:
    using QObject::QObject;

public slots:
    QString CaptureScreen() { return answerLater(0); }
    QString CaptureWindow() {
        const platform::WindowHandle window = platform::foregroundWindow();
        if (window == 0) {
            sendErrorReply(kNotSavedError, QString::fromLatin1(kNoFocusedWindow));
            return {};
        }
        return answerLater(window);
    }
    void ShowWindow() {
        if (!programEnding())
            bringMainWindowBack();
    }

private:
    // Exactly what PrintScreen and Insert do, with the reply sent when the file is complete.
    QString answerLater(platform::WindowHandle window) {
        if (programEnding()) {
            sendErrorReply(kNotSavedError, QStringLiteral("Lumora is closing"));
            return {};
        }
        setDelayedReply(true);
        capture::captureAndSave(
            window, CaptureKind::Manual,
            [bus = connection(), request = message()](const capture::CaptureOutcome& outcome) {
                QDBusConnection replyBus = bus;
                if (outcome.saved)
                    replyBus.send(request.createReply(QString::fromStdString(outcome.path)));
                else
                    replyBus.send(request.createErrorReply(kNotSavedError,
                                                           QString::fromStdString(outcome.error)));
            });
        return {};
    }
};

// QtDBus's own types are registered on first use, which may come after the bus connection and
// its thread exist; the type registry then goes before that thread at the process's end, and
// a message still read then ("Trying to construct an instance of an invalid type") finds them
// gone. Registered before the connection is made, they outlive it.
void registerBusTypes() {
    static const bool registered = [] {
        QMetaType::fromType<QDBusObjectPath>().id();
        QMetaType::fromType<QDBusSignature>().id();
        QMetaType::fromType<QDBusVariant>().id();
        QMetaType::fromType<QDBusUnixFileDescriptor>().id();
        return true;
    }();
    (void)registered;
}

}  // namespace

std::string offerCaptureRequests() {
    registerBusTypes();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return "the session bus cannot be reached";
    // Owned by the application object, so it goes before the connection does.
    auto* service = new CaptureService(QCoreApplication::instance());
    if (!bus.registerObject(kObjectPath, service, QDBusConnection::ExportAllSlots)) {
        delete service;
        return std::string("the object path ") + kObjectPath + " is taken";
    }
    if (!bus.registerService(kBusName)) {
        bus.unregisterObject(kObjectPath);
        delete service;
        return std::string("the name ") + kBusName + " is taken";
    }
    return {};
}

bool askRunningInstanceToShowWindow() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kBusName, kObjectPath, kInterface,
                                                       QStringLiteral("ShowWindow"));
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, kShowWindowTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace lumora::app

#include "capture_requests.moc"
