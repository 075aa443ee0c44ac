// Messages where no tray host shows the program's icon (offscreen here, GNOME for real): they
// go out as desktop notifications, and count as shown only when a notification server took
// them. The server is the test's own, on the session bus of the test run.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QMutex>
#include <QMutexLocker>
#include <QSystemTrayIcon>
#include <QThread>
#include <QVariantMap>

#include "assets/assets.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"

namespace lumora::platform {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr WindowHandle kOwner = 0x4e01;

struct Received {
    QString app, icon, summary, body;
    QVariantMap hints;
    QSize image;
};

class FakeServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    bool refuse = false;  // under mutex
    QList<Received> received;
    QMutex mutex;

public slots:
    QStringList GetCapabilities() {
        return {QStringLiteral("body"), QStringLiteral("body-markup")};
    }
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        QMutexLocker lock(&mutex);
        if (refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("no"));
            return 0;
        }
        Received r{app, icon, summary, body, hints, {}};
        if (hints.contains(QStringLiteral("image-data"))) {
            const QDBusArgument image =
                hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
            int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
            bool alpha = false;
            QByteArray data;
            image.beginStructure();
            image >> width >> height >> stride >> alpha >> bits >> channels >> data;
            image.endStructure();
            if (data.size() == qsizetype{stride} * height && channels == 4 && bits == 8)
                r.image = QSize(width, height);
        }
        received.push_back(r);
        return static_cast<uint>(received.size());
    }
};

TEST(MessagesWithoutTray, GoToTheNotificationServerAndCountOnlyWhenItTookThem) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    // (A server that is only installed, not running, is never started.)
    if (bus.interface()->isServiceRegistered(QString::fromLatin1(kService)))
        GTEST_SKIP() << "the session bus has a notification server of its own";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(trayHostPresent());
    // An icon Qt calls visible, with no host to show it.
    setTrayIcon(kOwner, assets::find("lumora.ico"), "Lumora技术");
    ASSERT_TRUE(hasTrayIcon(kOwner));

    const int before = testing::trayMessagesShown();
    EXPECT_FALSE(showTrayMessage("截图没有保存", "没有人看到"));
    EXPECT_EQ(testing::trayMessagesShown(), before);

    // The server answers on a connection and thread of its own, as another process would.
    QThread thread;
    thread.start();
    FakeServer server;
    server.moveToThread(&thread);
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-server"));
    ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                         QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverBus.registerService(QString::fromLatin1(kService)));

    EXPECT_TRUE(showTrayMessage("截图没有保存", "第3张截图没有保存到：\n/tmp/a&b<c>/"));
    EXPECT_EQ(testing::trayMessagesShown(), before + 1);
    {
        QMutexLocker lock(&server.mutex);
        ASSERT_EQ(server.received.size(), 1);
        const Received& r = server.received.front();
        EXPECT_EQ(r.app, QStringLiteral("Lumora截图精灵"));
        EXPECT_EQ(r.summary, QStringLiteral("截图没有保存"));
        // This server reads markup: the folder's name arrives as written, not as tags.
        EXPECT_EQ(r.body, QStringLiteral("第3张截图没有保存到：\n/tmp/a&amp;b&lt;c&gt;/"));
        EXPECT_EQ(r.hints.value(QStringLiteral("desktop-entry")).toString(),
                  QStringLiteral("io.lumora.Lumora"));
        EXPECT_EQ(r.image, QSize(48, 48)) << "the program's icon";
        server.refuse = true;
    }
    EXPECT_FALSE(showTrayMessage("截图没有保存", "被拒绝了"));
    EXPECT_EQ(testing::trayMessagesShown(), before + 1);

    serverBus.unregisterService(QString::fromLatin1(kService));
    serverBus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-server"));
    thread.quit();
    thread.wait();
    setTrayIcon(kOwner);
}

}  // namespace
}  // namespace lumora::platform

#include "shell_notification_gui_test.moc"
