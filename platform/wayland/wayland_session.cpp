#include "platform/wayland/wayland_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "platform/keys.h"
#include "platform/qt/image_to_bmp.h"
#include "platform/shell.h"
#include "platform/snapshot_bmp.h"
#include "platform/user_dirs.h"
#include "platform/wayland/global_shortcuts.h"
#include "platform/wayland/kwin_screenshot.h"
#include "platform/wayland/portal.h"
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

const char kNoActiveWindowNote[] =
    "This desktop does not let programs capture the active window: window captures show the "
    "whole screen.";
// KWin grants window captures by the desktop entry installed with the program; a copy run
// from elsewhere, or an entry without the program's full path, is refused.
const char kKWinNotAuthorizedNote[] =
    "KDE 没有允许 Lumora 截取活动窗口：Lumora 没有连同它的桌面文件一起安装（KDE 只让桌面文件里"
    "写明程序完整路径的程序截取窗口）。请用安装包或 cmake --install 安装 Lumora；在此之前，"
    "窗口截图截取的是整个屏幕。";
// Plasma's GlobalShortcuts portal takes the shortcuts but assigns no keys to them.
const char kKdeKeysHint[] =
    "在 KDE Plasma 中，PrintScreen 和 Insert 只有当前窗口收得到。请在 系统设置 → 快捷键 中"
    "添加应用程序 Lumora（系统设置 → 快捷键 → Lumora），为“截取屏幕”和“截取活动窗口”指定"
    "按键；也可以在那里添加命令“lumora --capture screen”和“lumora --capture window”，再为它们"
    "指定按键。";
const char kKeysHint[] =
    "PrintScreen and Insert reach only the focused program in this Wayland session. To capture "
    "with keys, bind the commands \"lumora --capture screen\" and \"lumora --capture window\" "
    "in the desktop's keyboard settings.";

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

class WaylandSession final : public DesktopSession {
public:
    WaylandSession() : desktop_(desktopOfEnvironment()), swaySocket_(environment("SWAYSOCK")) {
        if (swaySocket_.empty())
            swaySocket_ = environment("I3SOCK");
        if (QCoreApplication::instance() != nullptr) {
            // Owned by the application: the D-Bus parts must go before the bus itself does.
            context_ = new QObject(QCoreApplication::instance());
        }
    }

    ~WaylandSession() override { delete context_; }

    std::string kind() const override { return "wayland"; }

    Bytes takeSnapshot(WindowHandle window, int width, int height) override {
        if (QCoreApplication::instance() == nullptr) {
            lastFailure_ = "no event loop to wait for the screenshot portal";
            return {};
        }
        struct Wait {
            bool finished = false;
            Bytes image;
            std::string failure;
            QEventLoop* loop = nullptr;
        };
        auto wait = std::make_shared<Wait>();
        QEventLoop loop;
        wait->loop = &loop;
        requestSnapshot(window, width, height, [wait](Bytes image, std::string failure) {
            wait->finished = true;
            wait->image = std::move(image);
            wait->failure = std::move(failure);
            if (wait->loop)
                wait->loop->quit();
        });
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
        if (busy_ || jobs_.empty())
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
                                                  : QString::fromLatin1(kNoActiveWindowNote));
                    screen(finish);
                });
                return;
            case Desktop::Sway:
                swayWindowCapture(job->window, finish);
                return;
            case Desktop::Gnome:
            case Desktop::Other:
                noteOnce(QString::fromLatin1(kNoActiveWindowNote));
                screen(finish);
                return;
        }
    }

    void screen(const PictureDone& done) {
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
            noteOnce(QString::fromLatin1(kNoActiveWindowNote));
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
        portalPicture([done, frame](const QImage& picture, const QString& failure) {
            if (picture.isNull()) {
                done({}, failure);
                return;
            }
            done(crop(picture, frame, x11::screenLayout()), {});
        });
    }

    void portalPicture(PictureDone done) {
        timespec start{};
        clock_gettime(CLOCK_REALTIME, &start);
        const QString token = newHandleToken(QStringLiteral("shot"));
        PortalRequest::start(
            QDBusConnection::sessionBus(), screenshotCall(token), token, screenshotTimeoutMs(),
            [done = std::move(done), start](uint code, const QVariantMap& results,
                                            const QString& failure) {
                if (!failure.isEmpty()) {
                    done({}, failure);
                    return;
                }
                const ScreenshotAnswer answer = parseScreenshotResponse(code, results);
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
        const std::string config = configHome();
        shortcuts_ = new GlobalShortcuts(
            [this](int key) { keyPressed(key); },
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
                                     .toStdString());
        shortcuts_->start();

        QDBusMessage probe = QDBusMessage::createMethodCall(
            QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        probe << QString::fromLatin1(kScreenshotInterface) << QStringLiteral("version");
        auto* watcher = new QDBusPendingCallWatcher(
            QDBusConnection::sessionBus().asyncCall(probe, 30000), context_);
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
        if (showTrayMessage("Lumora", text.toStdString(), false)) {
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
        const QString hint = desktop_ == Desktop::Kde ? QString::fromUtf8(kKdeKeysHint)
                                                      : QString::fromLatin1(kKeysHint);
        noteOnce(hint, [marker] {
            std::error_code ignored;
            std::filesystem::create_directories(marker.parent_path(), ignored);
            std::FILE* file = std::fopen(marker.c_str(), "w");
            if (file)
                std::fclose(file);
        });
    }

    const Desktop desktop_;
    std::string swaySocket_;
    QPointer<QObject> context_;
    QPointer<GlobalShortcuts> shortcuts_;
    std::deque<Job> jobs_;
    bool busy_ = false;
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
