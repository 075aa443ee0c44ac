#include "platform/wayland/wayland_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "platform/keys.h"
#include "platform/qt/image_to_bmp.h"
#include "platform/shell.h"
#include "platform/snapshot_bmp.h"
#include "platform/user_dirs.h"
#include "platform/wayland/global_shortcuts.h"
#include "platform/wayland/gnome_shortcuts.h"
#include "platform/wayland/kwin_screenshot.h"
#include "platform/wayland/portal.h"
#include "platform/wayland/screencopy.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/x11/x11_session.h"

namespace lumora::platform::wayland {

namespace {

// A desktop may first ask the user whether to allow screenshots; the capture waits for the
// answer, but not for ever. LUMORA_PORTAL_TIMEOUT_MS shortens the wait for tests.
int screenshotTimeoutMs() {
    const char* text = std::getenv("LUMORA_PORTAL_TIMEOUT_MS");
    const int shorter = text ? std::atoi(text) : 0;
    return shorter > 0 ? shorter : 3 * 60 * 1000;
}
// The tray icon may come up a little after the session; notes wait for it this long.
constexpr int kNoteAttempts = 60;

const char kNoteTitle[] = "Lumora截图精灵";
const char kNoActiveWindowNote[] = "这个桌面不允许程序截取活动窗口，截取活动窗口时会截取整个屏幕。";
// KWin grants window captures by the desktop entry installed with the program; a copy run
// from elsewhere, or an entry without the program's full path, is refused.
const char kKWinNotAuthorizedNote[] =
    "KDE 没有允许 Lumora 截取活动窗口：Lumora 没有连同它的桌面文件一起安装（KDE 只让桌面文件里"
    "写明程序完整路径的程序截取窗口）。请用安装包或 cmake --install 安装 Lumora；在此之前，"
    "窗口截图截取的是整个屏幕。";
// Shown when Plasma's GlobalShortcuts portal gave no keys: 5.27 takes the shortcuts but assigns
// none; Plasma 6 opens its shortcut settings at the first start, where the person may have left
// them without keys.
const char kKdeKeysHint[] =
    "在 KDE Plasma 中，PrintScreen 和 Insert 只有当前窗口收得到。Plasma 6 在 Lumora 第一次启动"
    "时会打开 系统设置 → 快捷键 里 Lumora 的页面；Plasma 5.27 不会替 Lumora 指定按键。请在"
    " 系统设置 → 快捷键 → Lumora 里为“截取屏幕”和“截取活动窗口”指定按键；也可以在那里添加"
    "命令“lumora --capture screen”和“lumora --capture window”，再为它们指定按键。";
const char kKeysHint[] =
    "在这个 Wayland 桌面中，PrintScreen 和 Insert 键只有当前窗口才能收到。想用按键截图的话，"
    "请在桌面的键盘设置中把命令“lumora --capture screen”和“lumora --capture window”设为快捷键。";

// A box over the main window waits this long for that window to have the focus, then shows.
constexpr int kFocusAttempts = 80;
constexpr int kFocusPollMs = 250;

// GNOME: Print belongs to the shell's screenshot tool, so the program offers keys of its own.
const char kGnomeKeysOffer[] =
    "在 GNOME 里，PrintScreen 键归桌面自己的截图工具，Lumora 收不到它。\n\n"
    "要不要让 Lumora 在桌面的键盘设置里添加两个快捷键？\n"
    "    Ctrl+PrintScreen：截取整个屏幕\n"
    "    Super+Insert：截取当前窗口\n\n"
    "以后可以在 设置 → 键盘 → 自定义快捷键 里修改。";
const char kGnomeKeysFailed[] =
    "没能添加快捷键。请在 设置 → 键盘 → 自定义快捷键 里自己添加："
    "Ctrl+PrintScreen 运行“%1 --capture screen”，Super+Insert 运行“%1 --capture window”。";
const char kPermissionAsk[] =
    "Lumora 截图要经过桌面的允许。桌面马上会问一次是否允许 Lumora 截图，请选择“允许”（Allow）。";
const char kPermissionRefused[] =
    "桌面的截图权限拒绝了 Lumora，每次截图都会失败。要让桌面重新询问，请在终端里运行：\n%1";

// The first-start hint for a desktop whose keys the program cannot have by itself; each desktop
// may word it for its own settings.
QString keysHintText(Desktop desktop) {
    return QString::fromUtf8(desktop == Desktop::Kde ? kKdeKeysHint : kKeysHint);
}

// The main window when it has the focus (a splash has no frame and does not count).
QWidget* focusedMainWindow() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return nullptr;
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr || active->windowFlags().testFlag(Qt::FramelessWindowHint))
        return nullptr;
    return active;
}

// A message box over the main window; true when the person chose 确定. `shown` runs once the
// box is on the screen.
bool askOverMainWindow(const QString& text, bool withCancel,
                       const std::function<void()>& shown = {}) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    QMessageBox box(focusedMainWindow());
    box.setWindowTitle(QString::fromUtf8(kNoteTitle));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(withCancel ? QMessageBox::Question : QMessageBox::Information);
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    if (withCancel)
        box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    if (shown)
        shown();
    box.exec();
    return box.clickedButton() == ok;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The picture file the portal named, read and then deleted when the portal wrote it for this
// request. Opened without following links: the file may sit in a shared folder such as /tmp.
QImage takePortalFile(const QString& path, const timespec& requestStart, QString* failure) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            close(fd);
        *failure = QStringLiteral("the screenshot portal gave no picture");
        return {};
    }
    QFile file;
    QByteArray data;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        data = file.readAll();
    else
        close(fd);
    if (isPortalFileOfRequest(info, geteuid(), requestStart)) {
        struct stat now {};
        // Only the very file read: another process may have put a new one in its place.
        if (lstat(name.constData(), &now) == 0 && now.st_ino == info.st_ino &&
            now.st_dev == info.st_dev)
            unlink(name.constData());
    }
    QImage image = QImage::fromData(data);
    if (image.isNull())
        *failure = QStringLiteral("the screenshot portal's picture could not be read");
    return image;
}

// `area` (root coordinates of the X screen) out of the compositor's picture of the whole
// layout, which starts at the layout's corner (left of and above the root's origin when an
// output lies there); what lies outside the picture is black, as on X11.
QImage crop(const QImage& picture, const QRect& area,
            const std::optional<x11::ScreenLayout>& layout) {
    QRect source = area;
    if (layout && layout->layoutWidth > 0 && layout->layoutHeight > 0) {
        source.translate(-layout->layoutX, -layout->layoutY);
        if (layout->layoutWidth != picture.width() || layout->layoutHeight != picture.height()) {
            // A scaled output: the picture has more (or fewer) pixels than XWayland's layout.
            const double sx = double(picture.width()) / layout->layoutWidth;
            const double sy = double(picture.height()) / layout->layoutHeight;
            source = QRect(qRound(source.x() * sx), qRound(source.y() * sy),
                           qRound(source.width() * sx), qRound(source.height() * sy));
        }
    }
    if (source.isEmpty())
        return {};
    if (picture.rect().contains(source))
        return picture.copy(source);
    // QImage::copy fills what lies outside with 0, which in RGB32 is black.
    return picture.convertToFormat(QImage::Format_RGB32).copy(source);
}

// The primary output (XWayland's RandR primary, as on X11; else the compositor's first
// output), or `area` out of the output that shows most of it, copied by the compositor.
std::optional<std::pair<QImage, QString>> screencopyCapture(Screencopy& screencopy,
                                                            std::optional<QRect> area) {
    const std::vector<Screencopy::Output> outputs = screencopy.outputs();
    QRect wanted;
    if (area) {
        wanted = *area;
    } else if (const auto layout = x11::screenLayout()) {
        wanted = QRect(layout->x, layout->y, layout->width, layout->height);
    }
    const int index = outputFor(outputs, wanted);
    if (index < 0) {
        if (screencopy.broken())
            return std::nullopt;  // the portal may still serve
        return std::pair{QImage(), QStringLiteral("the compositor shows no output")};
    }
    const Screencopy::Output& output = outputs[static_cast<std::size_t>(index)];
    if (wanted.isEmpty())
        wanted = output.logical;
    std::string failure;
    const QImage picture = screencopy.capture(output.name, &failure);
    if (picture.isNull()) {
        if (screencopy.broken())
            return std::nullopt;
        return std::pair{QImage(), QString::fromStdString(failure)};
    }
    QImage cut = cropOutputPicture(picture, output.logical, wanted);
    if (cut.isNull())
        return std::pair{QImage(), QStringLiteral("the area lies on no output")};
    return std::pair{cut, QString()};
}

class WaylandSession final : public DesktopSession {
public:
    WaylandSession() : desktop_(desktopOfEnvironment()), swaySocket_(environment("SWAYSOCK")) {
        if (swaySocket_.empty())
            swaySocket_ = environment("I3SOCK");
        if (QCoreApplication::instance() != nullptr) {
            // Owned by the application: the D-Bus parts must go before the bus itself does.
            context_ = new QObject(QCoreApplication::instance());
            portal_ = portalBus();
        }
    }

    ~WaylandSession() override {
        delete context_;
        if (portal_)
            closePortalBus();
    }

    std::string kind() const override { return "wayland"; }

    Bytes takeSnapshot(WindowHandle window, int width, int height) override {
        struct Wait {
            bool finished = false;
            Bytes image;
            std::string failure;
            QEventLoop* loop = nullptr;
        };
        auto wait = std::make_shared<Wait>();
        requestSnapshot(window, width, height, [wait](Bytes image, std::string failure) {
            wait->finished = true;
            wait->image = std::move(image);
            wait->failure = std::move(failure);
            if (wait->loop)
                wait->loop->quit();
        });
        // Screencopy answers at once; a portal's answer comes through the event loop.
        if (!wait->finished && QCoreApplication::instance() == nullptr) {
            lastFailure_ = "no event loop to wait for the screenshot portal";
            return {};
        }
        QEventLoop loop;
        wait->loop = &loop;
        // Ends early only when the program quits meanwhile; the answer then finds no loop.
        if (!wait->finished)
            loop.exec();
        wait->loop = nullptr;
        if (!wait->finished) {
            lastFailure_ = "the program ended before the picture came";
            return {};
        }
        lastFailure_ = wait->failure;
        return std::move(wait->image);
    }

    void requestSnapshot(WindowHandle window, int width, int height, SnapshotDone done) override {
        if (asking_) {
            // The desktop's question is open: a capture now would make it ask again, out of
            // sight, and wait.
            lastFailure_ = screenshotPermissionUnsetFailure().toStdString();
            done({}, lastFailure_);
            return;
        }
        if (window != 0 && !isFocusedWindowHandle(window)) {
            // A window of an X client (ours, or another on XWayland) can be read through X.
            Bytes image = x11::takeSnapshot(window, width, height);
            lastFailure_ = image.empty() ? "no such window" : "";
            done(std::move(image), lastFailure_);
            return;
        }
        jobs_.push_back({window, width, height, std::move(done)});
        startNext();
    }

    // The screen as XWayland places it, where the program's windows live; an X client's window
    // through X. The focused window of the compositor has no rectangle the program can know.
    std::optional<ScreenRect> snapshotArea(WindowHandle window) override {
        if (window != 0 && !isFocusedWindowHandle(window))
            return x11::snapshotArea(window);
        if (window != 0)
            return std::nullopt;
        const auto layout = x11::screenLayout();
        if (!layout)
            return std::nullopt;
        return ScreenRect{layout->x, layout->y, layout->width, layout->height};
    }

    WindowHandle foregroundWindow() override {
        if (desktop_ == Desktop::Sway) {
            if (auto tree = swayIpcQuery(swaySocket_, kSwayGetTree)) {
                const auto window = swayWindow(*tree);
                // An empty workspace has the focus: nothing but the screen to capture.
                if (!window)
                    return 0;
                return kFocusedWindowTag | (static_cast<WindowHandle>(window->id) & 0xFFFFFFFFu);
            }
        }
        return kFocusedWindowTag;
    }

    std::int32_t asyncKeyState(int virtualKey) override {
        // X11 key observation sees only keys sent to X11 windows here: it stays off. Presses
        // come from the desktop's global shortcuts, when it offers them.
        watchKeys();
        auto it = pressed_.find(virtualKey);
        if (it == pressed_.end())
            return 0;
        pressed_.erase(it);
        return 1;
    }

    bool watchCaptureKeys(KeyChanged changed) override {
        keyChanged_ = std::move(changed);
        watchKeys();
        return true;
    }

    std::string lastFailure() const override { return lastFailure_; }

private:
    struct Job {
        WindowHandle window;
        int width;
        int height;
        SnapshotDone done;
    };
    using PictureDone = std::function<void(QImage picture, QString failure)>;

    // One portal request at a time: xdg-desktop-portal-wlr writes every picture to the same
    // file, and a desktop that asks the user asks once.
    void startNext() {
        if (busy_ || holding_ || jobs_.empty())
            return;
        busy_ = true;
        auto job = std::make_shared<Job>(std::move(jobs_.front()));
        jobs_.pop_front();
        auto finish = [this, job, life = std::weak_ptr<int>(life_)](const QImage& picture,
                                                                    const QString& failure) {
            if (life.expired())
                return;  // the session was replaced while the portal worked
            Bytes image;
            std::string cause = failure.toStdString();
            if (cause.empty()) {
                image = snapshot::imageToBmp(picture, job->width, job->height);
                if (image.empty())
                    cause = "the picture could not be made at the requested size";
            }
            lastFailure_ = cause;
            busy_ = false;
            SnapshotDone done = std::move(job->done);
            if (done)
                done(std::move(image), std::move(cause));
            if (!jobs_.empty() && context_)
                QTimer::singleShot(0, context_, [this] { startNext(); });
        };
        if (job->window == 0) {
            screen(finish);
            return;
        }
        switch (desktop_) {
            case Desktop::Kde:
                captureActiveWindowWithKWin([this, finish,
                                             life = std::weak_ptr<int>(life_)](KWinPicture window) {
                    if (life.expired())
                        return;
                    if (!window.image.isNull()) {
                        finish(window.image, {});
                        return;
                    }
                    // The whole screen rather than nothing: a capture is never lost for
                    // want of the window.
                    std::fprintf(stderr, "lumora: %s\n", window.failure.toLocal8Bit().constData());
                    // Refused the window, refused the screen: straight to the portal.
                    kwinScreenRefused_ = kwinScreenRefused_ || window.notAuthorized;
                    noteOnce(window.notAuthorized ? QString::fromUtf8(kKWinNotAuthorizedNote)
                                                  : QString::fromUtf8(kNoActiveWindowNote));
                    screen(finish);
                });
                return;
            case Desktop::Sway:
                swayWindowCapture(job->window, finish);
                return;
            case Desktop::Gnome:
            case Desktop::Other:
                noteOnce(QString::fromUtf8(kNoActiveWindowNote));
                screen(finish);
                return;
        }
    }

    void screen(const PictureDone& done) {
        if (auto picture = screencopyPicture(std::nullopt)) {
            done(picture->first, picture->second);
            return;
        }
        if (desktop_ == Desktop::Kde && !kwinScreenRefused_) {
            // KWin's raw pixels through a pipe: no PNG written, read back and deleted.
            captureWorkspaceWithKWin([this, done,
                                      life = std::weak_ptr<int>(life_)](KWinPicture workspace) {
                if (life.expired())
                    return;
                if (workspace.image.isNull()) {
                    std::fprintf(stderr, "lumora: %s; using the screenshot portal\n",
                                 workspace.failure.toLocal8Bit().constData());
                    kwinScreenRefused_ = workspace.notAuthorized;
                    portalScreen(done);
                    return;
                }
                const auto layout = x11::screenLayout();
                done(layout
                         ? crop(workspace.image,
                                QRect(layout->x, layout->y, layout->width, layout->height), layout)
                         : workspace.image,
                     {});
            });
            return;
        }
        portalScreen(done);
    }

    void portalScreen(const PictureDone& done) {
        portalPicture([done](const QImage& picture, const QString& failure) {
            if (picture.isNull()) {
                done({}, failure);
                return;
            }
            const auto layout = x11::screenLayout();
            done(layout ? crop(picture, QRect(layout->x, layout->y, layout->width, layout->height),
                               layout)
                        : picture,
                 {});
        });
    }

    void swayWindowCapture(WindowHandle window, const PictureDone& done) {
        const std::int64_t id = static_cast<std::int64_t>(window & 0xFFFFFFFFu);
        const auto tree = swayIpcQuery(swaySocket_, kSwayGetTree);
        if (!tree) {
            noteOnce(QString::fromUtf8(kNoActiveWindowNote));
            screen(done);
            return;
        }
        const auto found = swayWindow(*tree, id);
        if (!found) {
            if (id != 0) {
                done({}, QStringLiteral("the window is gone"));
                return;
            }
            screen(done);
            return;
        }
        const QRect frame = found->frame;
        if (auto picture = screencopyPicture(frame)) {
            done(picture->first, picture->second);
            return;
        }
        portalPicture([done, frame](const QImage& picture, const QString& failure) {
            if (picture.isNull()) {
                done({}, failure);
                return;
            }
            done(crop(picture, frame, x11::screenLayout()), {});
        });
    }

    // Before the first portal call of the connection: the program's own name with the portal,
    // where the portal keeps a registry of them (a permission is then the program's own, not
    // that of every program outside a sandbox).
    void whenRegistered(std::function<void()> next) {
        if (registrationDone_ || !context_) {
            next();
            return;
        }
        afterRegistration_.push_back(std::move(next));
        if (registrationAsked_)
            return;
        registrationAsked_ = true;
        auto* watcher = new QDBusPendingCallWatcher(
            portal().asyncCall(registerAppCall(QString::fromLatin1(kAppId)), 10000), context_);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_,
                         [this](QDBusPendingCallWatcher* w) {
                             w->deleteLater();
                             if (!w->isError()) {
                                 registered_ = true;
                             } else if (!isMissingInterface(w->error())) {
                                 std::fprintf(stderr,
                                              "lumora: the portal did not register the program "
                                              "as \"%s\" (the portals find it by its installed "
                                              "desktop entry, %s.desktop): %s\n",
                                              kAppId, kAppId,
                                              w->error().message().toLocal8Bit().constData());
                             }
                             registrationDone_ = true;
                             auto pending = std::move(afterRegistration_);
                             afterRegistration_.clear();
                             for (auto& f : pending)
                                 f();
                         });
    }

    QString appId() const { return registered_ ? QString::fromLatin1(kAppId) : QString(); }

    QDBusConnection portal() const { return portal_ ? *portal_ : QDBusConnection::sessionBus(); }

    // The permission the desktop keeps for this program's screenshots. One given to the id
    // earlier versions registered is moved to this id, once.
    void lookUpPermission(std::function<void(ScreenshotPermission)> answered) {
        if (!context_)
            return;
        auto* watcher = new QDBusPendingCallWatcher(
            portal().asyncCall(screenshotPermissionLookupCall(), 10000), context_);
        QObject::connect(
            watcher, &QDBusPendingCallWatcher::finished, context_,
            [this, answered](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                const QString id = appId();
                const QStringList old =
                    screenshotPermissionEntry(reply, QString::fromLatin1(kOldAppId));
                if (!id.isEmpty() && screenshotPermissionEntry(reply, id).isEmpty() &&
                    !old.isEmpty()) {
                    portal().asyncCall(setScreenshotPermissionCall(id, old), 10000);
                    portal().asyncCall(
                        deleteScreenshotPermissionCall(QString::fromLatin1(kOldAppId)), 10000);
                    answered(screenshotPermissionOf(reply, QString::fromLatin1(kOldAppId)));
                    return;
                }
                answered(screenshotPermissionOf(reply, id));
            });
    }

    // A desktop that was never asked would ask now; a one-off capture has no window in front
    // for the question (GNOME 45 and later time out after 30 s), so it ends at once and says
    // how to give the permission. The program that watches the keys asked at start.
    void portalPicture(PictureDone done) {
        whenRegistered([this, done = std::move(done)]() mutable {
            if (allowed_ || watching_) {
                requestPicture(std::move(done));
                return;
            }
            lookUpPermission([this, done](ScreenshotPermission permission) {
                if (permission == ScreenshotPermission::Unset) {
                    done({}, screenshotPermissionUnsetFailure());
                    return;
                }
                allowed_ = permission == ScreenshotPermission::Allowed;
                requestPicture(done);
            });
        });
    }

    void requestPicture(PictureDone done) {
        timespec start{};
        clock_gettime(CLOCK_REALTIME, &start);
        const QString token = newHandleToken(QStringLiteral("shot"));
        PortalRequest::start(
            portal(), screenshotCall(token), token, screenshotTimeoutMs(),
            [this, life = std::weak_ptr<int>(life_), done = std::move(done), start](
                uint code, const QVariantMap& results, const QString& failure) {
                if (!failure.isEmpty()) {
                    done({}, failure);
                    return;
                }
                const ScreenshotAnswer answer = parseScreenshotResponse(code, results);
                if (answer.refused && !life.expired() && context_) {
                    // The person said no just now, or the desktop keeps a "no": only the
                    // latter needs telling how to undo.
                    lookUpPermission([this, done, answer](ScreenshotPermission permission) {
                        done({}, permission == ScreenshotPermission::Refused
                                     ? screenshotPermissionRefusal(appId())
                                     : answer.failure);
                    });
                    return;
                }
                if (!answer.failure.isEmpty()) {
                    done({}, answer.failure);
                    return;
                }
                QString readFailure;
                QImage picture = takePortalFile(answer.file, start, &readFailure);
                done(picture, readFailure);
            },
            &screenshotCallFailure,
            // Too late for the capture, but the file it names goes as one in time would.
            [start](uint code, const QVariantMap& results) {
                const ScreenshotAnswer answer = parseScreenshotResponse(code, results);
                if (answer.failure.isEmpty())
                    discardPortalFile(answer.file, start);
            });
    }

    // Only the program that watches the keys asks the desktop for shortcuts (which may show the
    // user a dialog) and gives the hints; a one-off `lumora --capture` never does.
    void watchKeys() {
        if (watching_ || !context_)
            return;
        watching_ = true;
        QTimer::singleShot(0, context_, [this] { startWatching(); });
    }

    // The keys, and a word on stderr when no portal can ever give a picture (each lost capture
    // is reported by itself too).
    void startWatching() {
        whenRegistered([this] { checkPermission([this] { startShortcuts(); }); });
    }

    // At start: a desktop that has never been asked asks now, once, while the program is in
    // front (GNOME 45 and later refuse to ask for a program without a focused window, as from a
    // key pressed over another program); a stored "no" is said at once, with the way back.
    // Captures wait meanwhile, so that only one request can raise the desktop's question.
    void checkPermission(std::function<void()> next) {
        holding_ = true;
        auto release = [this, next] {
            holding_ = false;
            startNext();
            next();
        };
        lookUpPermission([this, release](ScreenshotPermission permission) {
            switch (permission) {
                case ScreenshotPermission::Refused:
                    sayRefused();
                    release();
                    return;
                case ScreenshotPermission::Unset:
                    asking_ = true;
                    whenMainWindowFocused([this, release] {
                        askOverMainWindow(QString::fromUtf8(kPermissionAsk), false);
                        // The question's own request; its picture goes (takePortalFile).
                        requestPicture([this, release](const QImage&, const QString& failure) {
                            asking_ = false;
                            if (failure.isEmpty()) {
                                release();
                                return;
                            }
                            // Deny: said now, not only at the next lost capture.
                            lookUpPermission([this, release](ScreenshotPermission now) {
                                if (now == ScreenshotPermission::Refused)
                                    sayRefused();
                                release();
                            });
                        });
                    });
                    return;
                case ScreenshotPermission::Allowed:
                case ScreenshotPermission::Unknown:
                    release();
                    return;
            }
        });
    }

    void sayRefused() {
        std::fprintf(stderr, "lumora: %s\n",
                     screenshotPermissionRefusal(appId()).toLocal8Bit().constData());
        noteOnce(
            QString::fromUtf8(kPermissionRefused).arg(screenshotPermissionResetCommand(appId())));
    }

    // Runs `next` once the main window has the focus, or after a while without it.
    void whenMainWindowFocused(std::function<void()> next, int attemptsLeft = kFocusAttempts) {
        if (!context_)
            return;
        if (focusedMainWindow() != nullptr || attemptsLeft <= 0) {
            next();
            return;
        }
        QTimer::singleShot(kFocusPollMs, context_, [this, next, attemptsLeft] {
            whenMainWindowFocused(next, attemptsLeft - 1);
        });
    }

    void startShortcuts() {
        const std::string config = configHome();
        // GNOME's custom shortcuts an earlier start added hold the keys: the desktop's own
        // shortcuts dialog would offer a second pair.
        if (desktop_ == Desktop::Gnome && hasGnomeCaptureShortcuts()) {
            std::fprintf(stderr, "lumora: capture keys: GNOME's custom shortcuts (%s, %s)\n",
                         kGnomeScreenKey, kGnomeWindowKey);
        } else {
            startGlobalShortcuts(config);
        }
        probeScreenshotPortal();
    }

    void startGlobalShortcuts(const std::string& config) {
        shortcuts_ = new GlobalShortcuts(
            portal(), [this](int key) { keyPressed(key); },
            [this](const QString& cause) {
                std::fprintf(stderr, "lumora: %s; capture keys need a binding in the desktop\n",
                             cause.toLocal8Bit().constData());
                showKeysHintOnce();
            },
            context_,
            config.empty() ? std::string()
                           : config + "/lumora/shortcuts-bound-" +
                                 QString::fromStdString(environment("XDG_CURRENT_DESKTOP"))
                                     .toLower()
                                     .replace(QRegularExpression(QStringLiteral("[^a-z0-9]")),
                                              QStringLiteral("-"))
                                     .toStdString() +
                                 "-" + kAppId,
            desktop_ == Desktop::Gnome ? captureShortcuts(QString::fromLatin1(kGnomeScreenTrigger),
                                                          QString::fromLatin1(kGnomeWindowTrigger))
                                       : captureShortcuts());
        // Earlier versions named their Plasma component "lumora"; Plasma 6 names the new one
        // after the application id and does not carry the keys over (Plasma 5 names it after
        // the session, "lumora" still: there it is the component in use).
        if (desktop_ == Desktop::Kde && std::atoi(environment("KDE_SESSION_VERSION").c_str()) >= 6)
            shortcuts_->offerKeysOfKdeComponent(QStringLiteral("lumora"));
        shortcuts_->start();
    }

    void probeScreenshotPortal() {
        QDBusMessage probe = QDBusMessage::createMethodCall(
            QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        probe << QString::fromLatin1(kScreenshotInterface) << QStringLiteral("version");
        auto* watcher = new QDBusPendingCallWatcher(portal().asyncCall(probe, 30000), context_);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_,
                         [](QDBusPendingCallWatcher* w) {
                             w->deleteLater();
                             if (!w->isError())
                                 return;
                             const QString cause = screenshotCallFailure(w->error());
                             std::fprintf(stderr, "lumora: Wayland session: %s\n",
                                          cause.toLocal8Bit().constData());
                         });
    }

    void keyPressed(int virtualKey) {
        if (keyChanged_) {
            KeyChanged changed = keyChanged_;
            changed(virtualKey, true);
            changed(virtualKey, false);
            return;
        }
        pressed_[virtualKey] = true;
    }

    // A tray message shown once per run; retried until the tray icon is up.
    void noteOnce(const QString& text, std::function<void()> shown = {}) {
        if (!noted_.insert(text).second || !context_)
            return;
        showNote(text, std::move(shown), kNoteAttempts);
    }

    void showNote(const QString& text, std::function<void()> shown, int attemptsLeft) {
        if (showTrayMessage(kNoteTitle, text.toStdString(), false)) {
            if (shown)
                shown();
            return;
        }
        if (attemptsLeft > 1 && context_) {
            QTimer::singleShot(1000, context_, [this, text, shown, attemptsLeft] {
                showNote(text, shown, attemptsLeft - 1);
            });
        }
    }

    // Once for good: the first start in a Wayland session tells how to bind the keys, and
    // later starts stay quiet.
    void showKeysHintOnce() {
        const std::string config = configHome();
        if (config.empty())
            return;
        const std::filesystem::path marker =
            std::filesystem::path(config) / "lumora" / "wayland-keys-hint-shown";
        std::error_code error;
        if (std::filesystem::exists(marker, error))
            return;
        auto shown = [marker] {
            std::error_code ignored;
            std::filesystem::create_directories(marker.parent_path(), ignored);
            std::FILE* file = std::fopen(marker.c_str(), "w");
            if (file)
                std::fclose(file);
        };
        if (desktop_ == Desktop::Gnome) {
            offerGnomeShortcuts(shown);
            return;
        }
        noteOnce(keysHintText(desktop_), shown);
    }

    // GNOME without global shortcuts: the program offers to add custom shortcuts for its two
    // captures, in a box over its window (a box is seen where a notification may not be).
    void offerGnomeShortcuts(std::function<void()> shown) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
            return;
        whenMainWindowFocused([this, shown] {
            const bool accepted =
                askOverMainWindow(QString::fromUtf8(kGnomeKeysOffer), true, shown);
            if (!accepted)
                return;
            const QString program = QCoreApplication::applicationFilePath();
            QString failure;
            if (addGnomeShortcuts(gnomeCaptureShortcuts(program), &failure)) {
                std::fprintf(stderr, "lumora: capture keys added to GNOME's shortcuts: %s, %s\n",
                             kGnomeScreenKey, kGnomeWindowKey);
                return;
            }
            std::fprintf(stderr, "lumora: the capture keys could not be added: %s\n",
                         failure.toLocal8Bit().constData());
            noteOnce(QString::fromUtf8(kGnomeKeysFailed).arg(shellQuoted(program)));
        });
    }

    // `area` (the primary output when none) straight from the compositor where it offers
    // screencopy (platform/wayland/screencopy.cpp); nothing when it does not, and the portal
    // takes over.
    std::optional<std::pair<QImage, QString>> screencopyPicture(std::optional<QRect> area) {
        if (!screencopy_ || screencopy_->broken()) {
            if (screencopyTried_ && !screencopy_)
                return std::nullopt;
            screencopyTried_ = true;
            std::string why;
            screencopy_ = Screencopy::connect(&why);
            if (!screencopy_)
                return std::nullopt;
        }
        return screencopyCapture(*screencopy_, area);
    }

    const Desktop desktop_;
    std::unique_ptr<Screencopy> screencopy_;
    bool screencopyTried_ = false;
    std::string swaySocket_;
    QPointer<QObject> context_;
    QPointer<GlobalShortcuts> shortcuts_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool holding_ = false;  // the start-up's permission check holds the captures back
    bool registrationAsked_ = false;
    bool registrationDone_ = false;
    bool registered_ = false;
    // The program's own portal connection (portalBus()), when there is an application.
    std::optional<QDBusConnection> portal_;
    bool allowed_ = false;  // the stored permission said yes
    bool asking_ = false;   // the desktop's question is open
    std::vector<std::function<void()>> afterRegistration_;
    bool watching_ = false;
    // KWin refused this program its screenshot interface: screens come from the portal.
    bool kwinScreenRefused_ = false;
    std::string lastFailure_;
    std::map<int, bool> pressed_;
    KeyChanged keyChanged_;
    std::set<QString> noted_;
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

}  // namespace

bool isWaylandEnvironment() {
    return !environment("WAYLAND_DISPLAY").empty() || environment("XDG_SESSION_TYPE") == "wayland";
}

Desktop desktopOfEnvironment() {
    const QStringList desktops =
        QString::fromStdString(environment("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'));
    for (const QString& name : desktops) {
        if (name.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0)
            return Desktop::Kde;
        if (name.contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
            return Desktop::Gnome;
        if (name.compare(QLatin1String("sway"), Qt::CaseInsensitive) == 0)
            return Desktop::Sway;
    }
    if (!environment("SWAYSOCK").empty())
        return Desktop::Sway;
    return Desktop::Other;
}

std::unique_ptr<DesktopSession> makeSession() {
    return std::make_unique<WaylandSession>();
}

}  // namespace lumora::platform::wayland
