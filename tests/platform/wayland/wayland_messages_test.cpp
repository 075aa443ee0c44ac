// What the Wayland session sends to the desktop and how it reads the answers: the portal's
// Screenshot and GlobalShortcuts, KWin's ScreenShot2 and sway's IPC. Built against their
// documented interfaces; only the portal's Screenshot and sway run in the test desktop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <cstring>
#include <thread>

#include "platform/keys.h"
#include "platform/wayland/global_shortcuts.h"
#include "platform/wayland/gnome_shortcuts.h"
#include "platform/wayland/kwin_screenshot.h"
#include "platform/wayland/portal.h"
#include "platform/wayland/screencopy.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_session.h"
#include "tests/support/test_support.h"

using namespace lumora::platform;
using namespace lumora::platform::wayland;

namespace {

// A wlroots compositor copies one output in its own pixels (twice the logical size at scale 2):
// the primary screen, or a window's frame, is cut out of it in logical coordinates.
TEST(Screencopy, OutputPictureIsCutInLogicalCoordinates) {
    const std::vector<Screencopy::Output> outputs{{QRect(0, 0, 1920, 1080), "DP-1"},
                                                  {QRect(1920, 0, 1280, 720), "DP-2"}};
    EXPECT_EQ(outputFor(outputs, QRect(1900, 100, 400, 300)), 1);  // mostly on the second
    EXPECT_EQ(outputFor(outputs, QRect()), 0);
    EXPECT_EQ(outputFor({}, QRect(0, 0, 10, 10)), -1);

    QImage picture(2560, 1440, QImage::Format_RGB32);  // DP-2 at scale 2
    picture.fill(qRgb(10, 20, 30));
    picture.setPixel(200, 100, qRgb(255, 0, 0));  // logical (2020, 50)
    const QImage frame = cropOutputPicture(picture, outputs[1].logical, QRect(2020, 50, 100, 40));
    ASSERT_EQ(frame.size(), QSize(200, 80));
    EXPECT_EQ(frame.pixel(0, 0), qRgb(255, 0, 0));
    // Beyond the output's edge the picture is black, as on X11.
    const QImage edge = cropOutputPicture(picture, outputs[1].logical, QRect(3150, 700, 100, 40));
    ASSERT_EQ(edge.size(), QSize(200, 80));
    EXPECT_EQ(edge.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(edge.pixel(199, 79), qRgb(0, 0, 0));
}

TEST(PortalScreenshot, CallNamesItsRequestAndNeverAsksTheUser) {
    EXPECT_EQ(requestPath(":1.42", "lumora_shot_7_1"),
              "/org/freedesktop/portal/desktop/request/1_42/lumora_shot_7_1");
    const QDBusMessage call = screenshotCall("tok");
    EXPECT_EQ(call.service(), "org.freedesktop.portal.Desktop");
    EXPECT_EQ(call.path(), "/org/freedesktop/portal/desktop");
    EXPECT_EQ(call.interface(), "org.freedesktop.portal.Screenshot");
    EXPECT_EQ(call.member(), "Screenshot");
    ASSERT_EQ(call.arguments().size(), 2);
    EXPECT_EQ(call.arguments()[0].toString(), "");  // no parent window
    const QVariantMap options = call.arguments()[1].toMap();
    EXPECT_EQ(options.value("handle_token").toString(), "tok");
    EXPECT_EQ(options.value("interactive"), QVariant(false));
    EXPECT_NE(newHandleToken("a"), newHandleToken("a"));
}

TEST(PortalScreenshot, ResponsesAndErrorsBecomeAFileOrACause) {
    EXPECT_EQ(parseScreenshotResponse(0, {{"uri", "file:///tmp/out.png"}}).file, "/tmp/out.png");
    EXPECT_EQ(parseScreenshotResponse(1, {}).failure, "the screenshot was refused");
    // GNOME's portal answers a denial with 2, at once and on every request after it.
    EXPECT_TRUE(parseScreenshotResponse(1, {}).refused);
    EXPECT_TRUE(parseScreenshotResponse(2, {}).refused);
    EXPECT_EQ(parseScreenshotResponse(2, {}).failure, "the screenshot was refused");
    EXPECT_FALSE(parseScreenshotResponse(3, {}).refused);
    EXPECT_EQ(parseScreenshotResponse(3, {}).failure, "the screenshot portal failed");
    EXPECT_FALSE(parseScreenshotResponse(0, {}).failure.isEmpty());
    EXPECT_FALSE(
        parseScreenshotResponse(0, {{"uri", "https://example.org/x.png"}}).failure.isEmpty());

    for (auto type : {QDBusError::ServiceUnknown, QDBusError::UnknownInterface,
                      QDBusError::UnknownMethod, QDBusError::UnknownObject}) {
        EXPECT_EQ(screenshotCallFailure(QDBusError(type, "x")), "no screenshot portal");
    }
    EXPECT_EQ(screenshotCallFailure(QDBusError(QDBusError::NoReply, "x")),
              "the screenshot portal did not answer");
    EXPECT_EQ(screenshotCallFailure(QDBusError(QDBusError::AccessDenied, "denied")),
              "the screenshot portal failed: denied");
}

// The permission the desktop keeps, per program ("" for programs outside a sandbox), and the
// registration that gives the program an entry of its own.
TEST(PortalScreenshot, PermissionStoreEntriesAndTheRegistry) {
    const QDBusMessage lookup = screenshotPermissionLookupCall();
    EXPECT_EQ(lookup.service(), "org.freedesktop.impl.portal.PermissionStore");
    EXPECT_EQ(lookup.member(), "Lookup");
    EXPECT_EQ(lookup.arguments(), (QVariantList{"screenshot", "screenshot"}));
    auto replyWith = [&](const QMap<QString, QStringList>& entries) {
        return lookup.createReply(
            QVariantList{QVariant::fromValue(entries), QVariant::fromValue(QDBusVariant(0))});
    };
    const QDBusMessage store = replyWith({{"", {"no"}}, {"lumora", {"yes"}}});
    EXPECT_EQ(screenshotPermissionOf(store, ""), ScreenshotPermission::Refused);
    EXPECT_EQ(screenshotPermissionOf(store, "lumora"), ScreenshotPermission::Allowed);
    EXPECT_EQ(screenshotPermissionOf(store, "other"), ScreenshotPermission::Unset);
    // A permission given under the earlier id moves to the program's id.
    EXPECT_EQ(screenshotPermissionEntry(store, kOldAppId), QStringList{"yes"});
    EXPECT_EQ(screenshotPermissionEntry(store, kAppId), QStringList());
    EXPECT_EQ(
        setScreenshotPermissionCall(kAppId, {"yes"}).arguments(),
        (QVariantList{"screenshot", true, "screenshot", "io.lumora.Lumora", QStringList{"yes"}}));
    EXPECT_EQ(deleteScreenshotPermissionCall(kOldAppId).arguments(),
              (QVariantList{"screenshot", "screenshot", "lumora"}));
    EXPECT_TRUE(screenshotPermissionUnsetFailure().contains("screenshot permission is unset"));
    EXPECT_EQ(screenshotPermissionOf(replyWith({{"", {"ask"}}}), ""), ScreenshotPermission::Unset);
    EXPECT_EQ(screenshotPermissionOf(
                  lookup.createErrorReply("org.freedesktop.portal.Error.NotFound", "none"), ""),
              ScreenshotPermission::Unset);
    EXPECT_EQ(screenshotPermissionOf(lookup.createErrorReply(QDBusError::ServiceUnknown, "x"), ""),
              ScreenshotPermission::Unknown);
    EXPECT_EQ(screenshotPermissionOf(lookup.createReply(QVariant(5)), ""),
              ScreenshotPermission::Unknown);
    // The refusal names the permission and the command that lets the desktop ask again.
    const QString refusal = screenshotPermissionRefusal("lumora");
    EXPECT_TRUE(refusal.contains("screenshot permission"));
    EXPECT_TRUE(refusal.endsWith("DeletePermission screenshot screenshot 'lumora'"))
        << refusal.toStdString();

    const QDBusMessage registration = registerAppCall(kAppId);
    EXPECT_EQ(registration.service(), "org.freedesktop.portal.Desktop");
    EXPECT_EQ(registration.path(), "/org/freedesktop/portal/desktop");
    EXPECT_EQ(registration.interface(), "org.freedesktop.host.portal.Registry");
    EXPECT_EQ(registration.member(), "Register");
    ASSERT_EQ(registration.arguments().size(), 2);
    EXPECT_EQ(registration.arguments()[0].toString(), "io.lumora.Lumora");
    EXPECT_EQ(registration.arguments()[1].toMap(), QVariantMap());
    EXPECT_TRUE(isMissingInterface(QDBusError(QDBusError::UnknownMethod, "x")));
    EXPECT_FALSE(isMissingInterface(QDBusError(QDBusError::InvalidArgs, "x")));
}

// GNOME's custom shortcuts: the user's list is read and written back with ours added.
TEST(GnomeShortcuts, TheUsersListKeepsItsEntriesAndTheCommandsItsPath) {
    bool ok = false;
    EXPECT_EQ(parseStringArray("@as []", &ok), QStringList());
    EXPECT_TRUE(ok);
    EXPECT_EQ(parseStringArray("['/a/', \"/b'c/\", '/d\\'e/']", &ok),
              (QStringList{"/a/", "/b'c/", "/d'e/"}));
    EXPECT_TRUE(ok);
    for (const char* bad : {"", "['/a/'", "['/a/' '/b/']", "[1]", "['/a/]"}) {
        parseStringArray(bad, &ok);
        EXPECT_FALSE(ok) << bad;
    }
    const QStringList list{"/a/", "/it's/"};
    EXPECT_EQ(parseStringArray(formatStringArray(list), &ok), list);
    EXPECT_EQ(formatStringArray({}), "@as []");

    EXPECT_EQ(shellQuoted("/usr/bin/lumora"), "/usr/bin/lumora");
    EXPECT_EQ(shellQuoted("/home/x/my apps/it's"), "'/home/x/my apps/it'\\''s'");
    const auto shortcuts = gnomeCaptureShortcuts("/opt/my apps/lumora");
    ASSERT_EQ(shortcuts.size(), 2u);
    EXPECT_EQ(shortcuts[0].binding, "<Control>Print");
    EXPECT_EQ(shortcuts[0].command, "'/opt/my apps/lumora' --capture screen");
    EXPECT_EQ(shortcuts[1].binding, "<Super>Insert");
    EXPECT_EQ(shortcuts[1].command, "'/opt/my apps/lumora' --capture window");
    EXPECT_TRUE(shortcuts[0].path.endsWith("/lumora-screen/"));
}

TEST(PortalScreenshot, OnlyAFreshPlainFileOfOursIsDeleted) {
    const timespec sent{1000, 0};
    struct stat info {};
    info.st_mode = S_IFREG | 0644;
    info.st_uid = 1000;
    info.st_nlink = 1;
    info.st_mtim = {1000, 500};
    EXPECT_TRUE(isPortalFileOfRequest(info, 1000, sent));
    EXPECT_FALSE(isPortalFileOfRequest(info, 1001, sent));  // another user's
    struct stat old = info;
    old.st_mtim = {900, 0};  // there before the request: the user's own picture
    EXPECT_FALSE(isPortalFileOfRequest(old, 1000, sent));
    struct stat linked = info;
    linked.st_nlink = 2;
    EXPECT_FALSE(isPortalFileOfRequest(linked, 1000, sent));
    struct stat link = info;
    link.st_mode = S_IFLNK | 0777;
    EXPECT_FALSE(isPortalFileOfRequest(link, 1000, sent));
}

// A tree as sway 1.7 reports it (trimmed): a tabbed container with two windows, one floating
// window with a title bar, and a focused node given per test.
QByteArray swayTree(const char* focused) {
    QByteArray tree = R"({"id":1,"type":"root","rect":{"x":0,"y":0,"width":1920,"height":1080},
      "nodes":[{"id":3,"type":"output","nodes":[{"id":4,"type":"workspace","layout":"splith",
        "focused":FOCUS4,
        "nodes":[{"id":6,"type":"con","layout":"tabbed","nodes":[
          {"id":7,"type":"con","focused":FOCUS7,"nodes":[],"floating_nodes":[],
           "rect":{"x":0,"y":25,"width":960,"height":1055},
           "deco_rect":{"x":0,"y":0,"width":480,"height":25}}]}],
        "floating_nodes":[{"id":5,"type":"floating_con","focused":FOCUS5,"nodes":[],
           "rect":{"x":706,"y":372,"width":507,"height":337},
           "deco_rect":{"x":706,"y":347,"width":507,"height":25},
           "window_rect":{"x":2,"y":0,"width":503,"height":335}}]}]}]})";
    for (const char* id : {"4", "5", "7"})
        tree.replace(QByteArray("FOCUS") + id, id == std::string(focused) ? "true" : "false");
    return tree;
}

TEST(SwayTree, FocusedWindowFrameHoldsItsBorderAndItsOwnTitleBar) {
    const auto floating = swayWindow(swayTree("5"));
    ASSERT_TRUE(floating);
    EXPECT_EQ(floating->id, 5);
    EXPECT_EQ(floating->frame, QRect(706, 347, 507, 362));
    // A tab's title belongs to its parent's tab bar, not to the window's frame.
    const auto tab = swayWindow(swayTree("7"));
    ASSERT_TRUE(tab);
    EXPECT_EQ(tab->frame, QRect(0, 25, 960, 1055));
    // By id, whatever has the focus; an empty workspace with the focus is no window.
    EXPECT_EQ(swayWindow(swayTree("4"), 5)->frame, floating->frame);
    EXPECT_FALSE(swayWindow(swayTree("4")));
    EXPECT_FALSE(swayWindow(swayTree("5"), 99));
    EXPECT_FALSE(swayWindow("not json"));
}

TEST(SwayIpc, OneQueryOverTheSocketReadsAReplyThatComesInPieces) {
    const QByteArray message = swayIpcMessage(kSwayGetTree);
    ASSERT_EQ(message.size(), 14);
    EXPECT_EQ(message.left(6), "i3-ipc");
    EXPECT_FALSE(swayIpcPayload(swayIpcMessage(kSwayGetTree, "{}"), 3));  // another type
    EXPECT_FALSE(swayIpcPayload(swayIpcMessage(kSwayGetTree, "{}").chopped(1), kSwayGetTree));

    lumora::test::TempDir dir;
    const std::string path = (dir.path() / "sway.sock").string();
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 1), 0);
    std::thread compositor([&] {
        const int client = accept(server, nullptr, nullptr);
        char request[14];
        ASSERT_EQ(recv(client, request, sizeof request, MSG_WAITALL), 14);
        const QByteArray reply = swayIpcMessage(kSwayGetTree, swayTree("5"));
        ASSERT_EQ(send(client, reply.constData(), 9, 0), 9);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(send(client, reply.constData() + 9, reply.size() - 9, 0), reply.size() - 9);
        close(client);
    });
    const auto payload = swayIpcQuery(path, kSwayGetTree, 2000);
    compositor.join();
    close(server);
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, swayTree("5"));
    EXPECT_FALSE(swayIpcQuery((dir.path() / "none.sock").string(), kSwayGetTree, 200));
}

TEST(KWinScreenShot, AsksForTheFramedWindowAndReadsTheRawPicture) {
    const QDBusMessage call = kwinCaptureActiveWindowCall(QDBusUnixFileDescriptor());
    EXPECT_EQ(call.service(), "org.kde.KWin");
    EXPECT_EQ(call.path(), "/org/kde/KWin/ScreenShot2");
    EXPECT_EQ(call.interface(), "org.kde.KWin.ScreenShot2");
    EXPECT_EQ(call.member(), "CaptureActiveWindow");
    ASSERT_EQ(call.arguments().size(), 2);
    const QVariantMap options = call.arguments()[0].toMap();
    EXPECT_EQ(options.value("include-decoration"), QVariant(true));
    EXPECT_EQ(options.value("include-cursor"), QVariant(false));
    EXPECT_TRUE(call.arguments()[1].canConvert<QDBusUnixFileDescriptor>());

    // Two rows of two ARGB32 pixels, each row padded to 12 bytes.
    QByteArray data(24, '\0');
    const quint32 pixels[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    std::memcpy(data.data(), pixels, 8);
    std::memcpy(data.data() + 12, pixels + 2, 8);
    QVariantMap results{{"type", "raw"},
                        {"width", 2u},
                        {"height", 2u},
                        {"stride", 12u},
                        {"format", uint(QImage::Format_ARGB32)}};
    const QImage image = kwinImageFromResults(results, data);
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(1, 0), 0xFF00FF00u);
    EXPECT_EQ(image.pixel(0, 1), 0xFF0000FFu);
    EXPECT_TRUE(kwinImageFromResults(results, data.chopped(1)).isNull());  // short pipe
    results["stride"] = 4u;  // rows narrower than their pixels
    EXPECT_TRUE(kwinImageFromResults(results, data.left(8)).isNull());
    results["stride"] = 12u;
    results["format"] = 9999u;
    EXPECT_TRUE(kwinImageFromResults(results, data).isNull());

    // KWin 5.27's window inside its shadow's margin: transparent at the edge, a faint shadow
    // within; only the fully opaque part is the window.
    QImage shadowed(7, 6, QImage::Format_ARGB32);
    shadowed.fill(0x00000000u);
    for (int y = 1; y < 6; ++y)
        for (int x = 1; x < 6; ++x)
            shadowed.setPixel(x, y, 0x28000000u);
    shadowed.setPixel(3, 2, 0xFF102030u);
    shadowed.setPixel(4, 3, 0xFF405060u);
    const QByteArray raw(reinterpret_cast<const char*>(shadowed.constBits()),
                         shadowed.sizeInBytes());
    const QImage window = kwinImageFromResults({{"type", "raw"},
                                                {"width", 7u},
                                                {"height", 6u},
                                                {"stride", uint(shadowed.bytesPerLine())},
                                                {"format", uint(QImage::Format_ARGB32)}},
                                               raw);
    ASSERT_EQ(window.size(), QSize(2, 2));
    EXPECT_EQ(window.pixel(0, 0), 0xFF102030u);
    EXPECT_EQ(window.pixel(1, 1), 0xFF405060u);

    const QDBusMessage workspace = kwinCaptureWorkspaceCall(QDBusUnixFileDescriptor());
    EXPECT_EQ(workspace.member(), "CaptureWorkspace");
    EXPECT_EQ(workspace.arguments()[0].toMap().value("include-cursor"), QVariant(false));
}

TEST(GlobalShortcutsPortal, BindsScreenToPrintAndWindowToInsert) {
    const QDBusMessage create = createShortcutSessionCall("t1", "s1");
    EXPECT_EQ(create.interface(), "org.freedesktop.portal.GlobalShortcuts");
    EXPECT_EQ(create.member(), "CreateSession");
    EXPECT_EQ(create.arguments()[0].toMap().value("session_handle_token").toString(), "s1");

    const QDBusMessage bind =
        bindShortcutsCall("/org/freedesktop/portal/desktop/session/1_2/s1", "t2");
    EXPECT_EQ(bind.member(), "BindShortcuts");
    ASSERT_EQ(bind.arguments().size(), 4);
    EXPECT_EQ(bind.arguments()[0].value<QDBusObjectPath>().path(),
              "/org/freedesktop/portal/desktop/session/1_2/s1");
    const auto shortcuts = bind.arguments()[1].value<PortalShortcuts>();
    ASSERT_EQ(shortcuts.size(), 2);
    EXPECT_EQ(shortcuts[0].id, "screen");
    EXPECT_EQ(shortcuts[0].properties.value("preferred_trigger").toString(), "Print");
    EXPECT_EQ(shortcuts[1].id, "window");
    EXPECT_EQ(shortcuts[1].properties.value("preferred_trigger").toString(), "Insert");
    EXPECT_EQ(bind.arguments()[3].toMap().value("handle_token").toString(), "t2");
    // GNOME keeps Print for its own screenshot tool: other preferred keys there.
    const auto gnome =
        bindShortcutsCall("/s/1", "t4", captureShortcuts("CTRL+Print", "LOGO+Insert"))
            .arguments()[1]
            .value<PortalShortcuts>();
    EXPECT_EQ(gnome[0].properties.value("preferred_trigger").toString(), "CTRL+Print");
    EXPECT_EQ(gnome[1].properties.value("preferred_trigger").toString(), "LOGO+Insert");

    EXPECT_EQ(shortcutSessionOf({{"session_handle", "/s/1"}}), "/s/1");
    EXPECT_EQ(shortcutSessionOf({{"session_handle", QVariant::fromValue(QDBusObjectPath("/s/2"))}}),
              "/s/2");
    EXPECT_EQ(shortcutSessionOf({}), "");
    EXPECT_EQ(boundShortcutsOf({{"shortcuts", QVariant::fromValue(shortcuts)}}).size(), 2);
    EXPECT_EQ(listShortcutsCall("/s/1", "t3").member(), "ListShortcuts");

    // A bind opens the desktop's dialog or settings: only when the shortcuts are not listed
    // with keys, and once on a desktop (Plasma 5.27 never lists, and answers a bind with no
    // shortcuts).
    PortalShortcuts assigned = shortcuts;
    for (PortalShortcut& s : assigned)
        s.properties["trigger_description"] = s.properties.value("preferred_trigger");
    EXPECT_TRUE(captureShortcutsAssigned(assigned));
    EXPECT_FALSE(captureShortcutsAssigned({}));
    EXPECT_FALSE(captureShortcutsAssigned(shortcuts));  // no triggers
    EXPECT_FALSE(captureShortcutsAssigned(assigned.mid(0, 1)));
    EXPECT_TRUE(shouldBindShortcuts({}, false));
    EXPECT_FALSE(shouldBindShortcuts({}, true));
    EXPECT_FALSE(shouldBindShortcuts(assigned, false));
    EXPECT_FALSE(shouldBindShortcuts(shortcuts, true));
    EXPECT_EQ(virtualKeyOfShortcut("screen"), kVkPrintScreen);
    EXPECT_EQ(virtualKeyOfShortcut("window"), kVkInsert);
    EXPECT_EQ(virtualKeyOfShortcut("other"), 0);
    // Keys as kglobalaccel keeps them (Qt codes with modifier bits), as triggers.
    EXPECT_EQ(portalTriggerOfKdeKey(0x10000000 | 0x01000037), "LOGO+F8");
    EXPECT_EQ(portalTriggerOfKdeKey(0x06000000 | 0x01000009), "CTRL+SHIFT+Print");
    EXPECT_EQ(portalTriggerOfKdeKey(0x08000000 | 'K'), "ALT+k");
    EXPECT_EQ(portalTriggerOfKdeKey(0x01000006), "Insert");
    EXPECT_EQ(portalTriggerOfKdeKey(0x04000000 | 0x01001103), "");  // no name known here
}

TEST(WaylandEnvironment, DesktopComesFromTheSessionsNames) {
    using lumora::test::ScopedEnv;
    ScopedEnv sock("SWAYSOCK", std::nullopt);
    {
        ScopedEnv desktop("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        EXPECT_EQ(desktopOfEnvironment(), Desktop::Gnome);
    }
    {
        ScopedEnv desktop("XDG_CURRENT_DESKTOP", "KDE");
        EXPECT_EQ(desktopOfEnvironment(), Desktop::Kde);
    }
    {
        ScopedEnv desktop("XDG_CURRENT_DESKTOP", "Hyprland");
        EXPECT_EQ(desktopOfEnvironment(), Desktop::Other);
        ScopedEnv swaySock("SWAYSOCK", "/run/user/1000/sway-ipc.sock");
        EXPECT_EQ(desktopOfEnvironment(), Desktop::Sway);
    }
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    ScopedEnv type("XDG_SESSION_TYPE", "x11");
    EXPECT_FALSE(isWaylandEnvironment());
    ScopedEnv type2("XDG_SESSION_TYPE", "wayland");
    EXPECT_TRUE(isWaylandEnvironment());
}

}  // namespace
