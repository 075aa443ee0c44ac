// The desktop services of platform/shell.h on Qt Widgets.
#include "platform/shell.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "platform/qt/shell_notification.h"
#include "platform/shell_icon.h"
#include "platform/shell_testing.h"

namespace lumora::platform {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool haveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Folder chooser

// Disables the program's other top-level windows for the life of a modal chooser and puts
// each back to the state it had, so a window the program had disabled stays disabled.
class WindowsDisabled {
public:
    WindowsDisabled() {
        active_ = QApplication::activeWindow();
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->parentWidget() != nullptr)
                continue;
            const Qt::WindowType type = w->windowType();
            if (type != Qt::Window && type != Qt::Dialog)
                continue;
            saved_.emplace_back(w, w->isEnabled());
            w->setEnabled(false);
        }
    }
    ~WindowsDisabled() {
        for (auto& [w, enabled] : saved_) {
            if (w)
                w->setEnabled(enabled);
        }
        if (active_ && active_->isVisible()) {
            active_->raise();
            active_->activateWindow();
        }
    }
    WindowsDisabled(const WindowsDisabled&) = delete;
    WindowsDisabled& operator=(const WindowsDisabled&) = delete;
    QWidget* active() const { return active_; }

private:
    QPointer<QWidget> active_;
    std::vector<std::pair<QPointer<QWidget>, bool>> saved_;
};

// ---------------------------------------------------------------------------------------------
// Tray icon

struct TrayRegistry {
    std::map<WindowHandle, QPointer<QSystemTrayIcon>> icons;
    std::function<void(WindowHandle, int)> sink;
    // The program's icon as last given for the tray, for notifications: they show it too, also
    // where no tray host shows the icon itself.
    QImage notificationIcon;
};

TrayRegistry& trays() {
    static TrayRegistry registry;
    return registry;
}

QImage decodeIcoEntry(std::span<const std::uint8_t> data, const detail::IcoEntry& entry) {
    static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto image = data.subspan(entry.offset, entry.size);
    if (image.size() >= sizeof kPngSignature &&
        std::equal(std::begin(kPngSignature), std::end(kPngSignature), image.begin())) {
        return QImage::fromData(image.data(), static_cast<int>(image.size()), "PNG");
    }
    const std::vector<std::uint8_t> ico = detail::singleEntryIco(data, entry);
    return QImage::fromData(ico.data(), static_cast<int>(ico.size()), "ICO");
}

// The entry nearest to the size notification servers show beside the text.
QImage makeNotificationIcon(std::span<const std::uint8_t> data) {
    constexpr int kWanted = 48;
    std::optional<detail::IcoEntry> best;
    for (const detail::IcoEntry& entry : detail::readIcoDirectory(data)) {
        if (!best || std::abs(entry.width - kWanted) < std::abs(best->width - kWanted))
            best = entry;
    }
    return best ? decodeIcoEntry(data, *best) : QImage();
}

QIcon makeTrayIcon(std::span<const std::uint8_t> data) {
    const std::vector<detail::IcoEntry> entries = detail::readIcoDirectory(data);
    for (int width : {16, 32}) {
        const std::optional<detail::IcoEntry> entry = detail::selectIcoEntry(entries, width);
        if (!entry)
            break;
        const QImage image = decodeIcoEntry(data, *entry);
        if (!image.isNull())
            return QIcon(QPixmap::fromImage(image));
    }
    return {};
}

int trayEventOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            return 1;
        case QSystemTrayIcon::DoubleClick:
            return 2;
        case QSystemTrayIcon::Context:
            return 3;
        default:
            return 0;
    }
}

void deliverTrayEvent(WindowHandle owner, int event) {
    // Queued, so the handler runs outside the tray's own mouse handling: it may remove the
    // icon (the exit item of the tray menu does) without pulling the widget from under Qt.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [owner, event] {
            if (trays().sink)
                trays().sink(owner, event);
        },
        Qt::QueuedConnection);
}

void removeTrayIcon(WindowHandle owner) {
    auto it = trays().icons.find(owner);
    if (it == trays().icons.end())
        return;
    if (QSystemTrayIcon* icon = it->second) {
        icon->hide();
        icon->deleteLater();
    }
    trays().icons.erase(it);
}

// ---------------------------------------------------------------------------------------------
// Control scheme

// Draws the frames of the standard controls in the scheme's colour over the look of the style
// it wraps, so the controls keep their shape, states and check marks.
class SchemeStyle : public QProxyStyle {
public:
    explicit SchemeStyle(const QString& baseKey) : QProxyStyle(baseKey) {}

    void setFrameColour(std::optional<QColor> colour) { frame_ = colour; }
    std::optional<QColor> frameColour() const { return frame_; }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (!frame_)
            return;
        switch (element) {
            case PE_PanelButtonCommand:
            case PE_FrameLineEdit:
            case PE_FrameGroupBox:
            case PE_FrameTabWidget:
                outline(painter, option->rect, 2.0);
                break;
            case PE_IndicatorCheckBox:
                outline(painter, option->rect, 1.0);
                break;
            case PE_IndicatorRadioButton:
                outline(painter, option->rect, -1.0);
                break;
            default:
                break;
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (frame_ && (control == CC_ComboBox || control == CC_SpinBox)) {
            outline(painter, option->rect, 2.0);
        }
    }

private:
    // radius < 0 draws an ellipse.
    void outline(QPainter* painter, const QRect& rect, double radius) const {
        if (rect.width() < 2 || rect.height() < 2)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(*frame_, 1.0));
        painter->setBrush(Qt::NoBrush);
        const QRectF r = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (radius < 0) {
            painter->drawEllipse(r);
        } else {
            painter->drawRoundedRect(r, radius, radius);
        }
        painter->restore();
    }

    std::optional<QColor> frame_;
};

QPointer<SchemeStyle>& schemeStyle() {
    static QPointer<SchemeStyle> style;
    return style;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string browseForFolder(std::string_view title, bool includeFiles,
                            std::string_view startFolder) {
    if (!haveWidgets())
        return {};
    WindowsDisabled disabled;

    QFileDialog dialog(nullptr, toQString(title));
    dialog.setObjectName(QString::fromLatin1(testing::kFolderDialogName));
    // Qt's own dialog, so it behaves alike on every desktop and tests can drive it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, !includeFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!startFolder.empty()) {
        QDir start(toQString(startFolder));
        while (!start.exists() && start.cdUp()) {
        }
        if (start.exists())
            dialog.setDirectory(start);
    }
    dialog.setWindowModality(Qt::ApplicationModal);
    if (QWidget* active = disabled.active()) {
        // A transient parent, not a widget parent: disabling the owner must not disable the
        // dialog with it.
        dialog.winId();
        if (dialog.windowHandle() && active->windowHandle()) {
            dialog.windowHandle()->setTransientParent(active->windowHandle());
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty())
        return {};
    // cleanPath keeps "/" for the root and drops the trailing "/" of any other folder.
    return QDir::cleanPath(files.front()).toStdString();
}

int openInShell(std::string_view path, int /*verb*/, std::string_view /*parameters*/,
                std::string_view /*folder*/, int /*show*/) {
    if (path.empty() || !haveWidgets())
        return 2;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(path))) ? 42 : 2;
}

void openWebAddress(std::string_view address) {
    if (address.empty() || !haveWidgets())
        return;
    QUrl url = QUrl::fromUserInput(toQString(address));
    if (!url.isValid())
        return;
    QDesktopServices::openUrl(url);
}

int showMessage(std::string_view text, int style, std::optional<std::string_view> title) {
    if (!haveWidgets())
        return 0;
    QMessageBox box;
    box.setObjectName(QString::fromLatin1(testing::kMessageBoxName));
    box.setTextFormat(Qt::PlainText);
    box.setText(toQString(text));
    box.setWindowTitle(title ? toQString(*title) : QStringLiteral("信息："));
    box.setWindowModality(Qt::ApplicationModal);

    switch ((style >> 4) & 0xF) {
        case 1:
            box.setIcon(QMessageBox::Critical);
            break;
        case 2:
            box.setIcon(QMessageBox::Question);
            break;
        case 3:
            box.setIcon(QMessageBox::Warning);
            break;
        case 4:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }

    using SB = QMessageBox::StandardButton;
    std::vector<SB> buttons;
    switch (style & 0xF) {
        case 1:
            buttons = {SB::Ok, SB::Cancel};
            break;
        case 2:
            buttons = {SB::Abort, SB::Retry, SB::Ignore};
            break;
        case 3:
            buttons = {SB::Yes, SB::No, SB::Cancel};
            break;
        case 4:
            buttons = {SB::Yes, SB::No};
            break;
        case 5:
            buttons = {SB::Retry, SB::Cancel};
            break;
        default:
            buttons = {SB::Ok};
            break;
    }
    for (SB b : buttons)
        box.addButton(b);
    // As on every desktop, the first button is the default one.
    box.setDefaultButton(buttons.front());
    box.exec();

    switch (box.standardButton(box.clickedButton())) {
        case SB::Cancel:
            return 1;
        case SB::Abort:
            return 2;
        case SB::Retry:
            return 3;
        case SB::Ignore:
            return 4;
        case SB::Yes:
            return 5;
        case SB::No:
            return 6;
        default:
            return 0;
    }
}

void setTrayIcon(WindowHandle owner, std::span<const std::uint8_t> iconData, std::string_view tip) {
    if (!haveWidgets())
        return;
    const QIcon icon = makeTrayIcon(iconData);
    if (icon.isNull()) {
        removeTrayIcon(owner);
        return;
    }
    const QString toolTip = toQString(detail::cutAtCharacterBoundary(tip, 62));
    QPointer<QSystemTrayIcon>& slot = trays().icons[owner];
    if (!slot) {
        auto* tray = new QSystemTrayIcon(QCoreApplication::instance());
        tray->setObjectName(QString::fromLatin1(testing::kTrayIconName));
        QObject::connect(tray, &QSystemTrayIcon::activated,
                         [owner](QSystemTrayIcon::ActivationReason reason) {
                             if (const int event = trayEventOf(reason)) {
                                 deliverTrayEvent(owner, event);
                             }
                         });
        slot = tray;
    }
    slot->setIcon(icon);
    slot->setToolTip(toolTip);
    slot->show();
    trays().notificationIcon = makeNotificationIcon(iconData);
}

void setTrayEventSink(std::function<void(WindowHandle owner, int event)> sink) {
    trays().sink = std::move(sink);
}

bool hasTrayIcon(WindowHandle owner) {
    auto it = trays().icons.find(owner);
    return it != trays().icons.end() && it->second && it->second->isVisible();
}

bool trayHostPresent() {
    // Qt looks for a StatusNotifierWatcher or the owner of the XEmbed tray selection. GNOME
    // has neither unless an extension adds one, and an icon that is merely "visible" to Qt
    // then shows nowhere.
    if (!haveWidgets() || !QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    // Qt takes a running watcher for a tray, but a watcher started by another desktop's
    // daemon may have no host that shows anything.
    return detail::statusNotifierHostRegistered().value_or(true);
}

namespace {
struct TrayMessages {
    int shown = 0;
    std::string last;
};
TrayMessages& trayMessages() {
    static TrayMessages messages;
    return messages;
}
}  // namespace

int testing::trayMessagesShown() {
    return trayMessages().shown;
}

std::string testing::lastTrayMessage() {
    return trayMessages().last;
}

bool showTrayMessage(std::string_view title, std::string_view text, bool warning) {
    // A one-off capture from a desktop shortcut has no widgets, and no tray icon, but its
    // person still learns of a lost capture through a notification.
    if (QCoreApplication::instance() == nullptr)
        return false;
    auto shown = [&] {
        ++trayMessages().shown;
        trayMessages().last = std::string(title) + "\n" + std::string(text);
        return true;
    };
    // Where a tray host shows the icon, the balloon comes from it (false while the icon is not
    // up yet: the caller may try again). Elsewhere Qt would accept a balloon and show nothing.
    if (trayHostPresent()) {
        for (auto& [owner, icon] : trays().icons) {
            if (icon && icon->isVisible()) {
                icon->showMessage(
                    toQString(title), toQString(text),
                    warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
                return shown();
            }
        }
        return false;
    }
    if (detail::sendNotification(toQString(title), toQString(text), trays().notificationIcon))
        return shown();
    return false;
}

bool setWindowAlpha(WindowHandle window, int opacity) {
    if (opacity < 0 || opacity > 255)
        opacity = 255;
    if (window == 0 || !haveWidgets())
        return false;
    QWidget* widget = QWidget::find(static_cast<WId>(window));
    if (widget == nullptr)
        return false;
    widget->window()->setWindowOpacity(opacity / 255.0);
    // Qt sends the opacity property lazily; without a round trip the compositor may not see a
    // change until unrelated X traffic happens to flush it.
    QGuiApplication::sync();
    return true;
}

void delayWithEvents(int milliseconds) {
    if (milliseconds <= 0)
        return;
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    const QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        bool elapsed = false;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            elapsed = true;
            loop.quit();
        });
        timer.start(std::max<qint64>(deadline.remainingTime(), 0));
        loop.exec();
        // Woken before the time was up without our timer: the application is quitting and
        // asked every loop to end, so the pause ends too rather than spinning.
        if (!elapsed && !deadline.hasExpired())
            return;
    }
}

bool applyControlScheme(int scheme) {
    if (!haveWidgets())
        return false;
    std::optional<QColor> colour;
    switch (scheme) {
        case 1:
            colour = QColor(123, 158, 189);
            break;
        case 2:
            colour = QColor(164, 185, 127);
            break;
        case 3:
            colour = QColor(198, 197, 215);
            break;
        default:
            break;
    }
    QPointer<SchemeStyle>& style = schemeStyle();
    if (style && QApplication::style() != style)
        style.clear();  // replaced by someone else
    if (!style) {
        if (!colour)
            return true;  // nothing to switch off
        // Wrapping the style in use keeps the program's look apart from the frame colours.
        style = new SchemeStyle(QApplication::style()->name());
        QApplication::setStyle(style);
    }
    style->setFrameColour(colour);
    for (QWidget* w : QApplication::allWidgets())
        w->update();
    return true;
}

namespace testing {

std::optional<std::uint32_t> controlSchemeFrameColour() {
    QPointer<SchemeStyle>& style = schemeStyle();
    if (!style || QApplication::style() != style || !style->frameColour())
        return std::nullopt;
    return style->frameColour()->rgb() & 0xFFFFFF;
}

}  // namespace testing

}  // namespace lumora::platform
