// A window of the definition table on Qt Widgets: its controls, menu, timers and frame.
//
// Order of creation: every control exists, the timers run and the window is shown before its
// Created event is raised, directly inside openWindow. The main window's Created handler runs
// the whole start-up (it pauses with events processed), so the window must be fully usable by
// then; ticks that fall due during that handler are dispatched like any other.
#include "ui/qt/window_widget.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <memory>
#include <vector>
#include "assets/assets.h"
#include "platform/shell.h"
#include "platform/window_frame.h"
#include "ui/events.h"
#include "ui/qt/balloon_widget.h"
#include "ui/qt/fonts.h"
#include "ui/qt/widgets.h"
#include "ui/windows.h"

namespace lumora::ui::detail {

RuntimeState& state() {
    static RuntimeState instance;
    return instance;
}

QString escapeMnemonic(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

namespace {

QIcon loadIcon(std::string_view assetName) {
    QIcon icon;
    const auto bytes = assets::find(assetName);
    if (bytes.empty())
        return icon;
    QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ICO");
    // Every size of the icon file, so the desktop picks the one it needs.
    for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
        if (i > 0 && !reader.jumpToNextImage())
            break;
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

int keyState(Qt::KeyboardModifiers modifiers) {
    int state = 0;
    if (modifiers & Qt::ControlModifier)
        state |= 1;
    if (modifiers & Qt::ShiftModifier)
        state |= 2;
    if (modifiers & Qt::AltModifier)
        state |= 4;
    return state;
}

Qt::WindowFlags windowFlagsFor(const WindowDef& def) {
    Qt::WindowFlags flags = def.shownInTaskbar ? Qt::Window : Qt::Dialog;
    if (def.border == 0) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (def.controlBox)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (def.minimizeBox)
            flags |= Qt::WindowMinimizeButtonHint;
        if (def.maximizeBox)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    if (def.alwaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

}  // namespace

WindowWidget::WindowWidget(const WindowDef& def, bool modal)
    : QWidget(nullptr, windowFlagsFor(def)), def_(def) {
    installFontSubstitutions();
    setObjectName(toQString(def.name));
    setWindowTitle(toQString(def.title));
    setFont(defaultGuiFont());
    if (modal)
        setWindowModality(Qt::ApplicationModal);
    if (!def.icon.empty()) {
        const QIcon icon = loadIcon(def.icon);
        if (!icon.isNull()) {
            setWindowIcon(icon);
            // Windows without an icon of their own (the settings window) show the program's.
            if (QApplication::windowIcon().isNull())
                QApplication::setWindowIcon(icon);
        }
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (!def.menu.empty()) {
        menuBar_ = new QMenuBar(this);
        menuBar_->setNativeMenuBar(false);
        menuBar_->setObjectName(QStringLiteral("menuBar"));
        QMenu* current = nullptr;
        for (const MenuItemDef& item : def.menu) {
            const QString caption = escapeMnemonic(toQString(item.caption));
            QAction* action = nullptr;
            if (item.level == 0) {
                current = menuBar_->addMenu(caption);
                action = current->menuAction();
            } else if (current != nullptr) {
                action = current->addAction(caption);
                const std::string_view source = item.caption;
                const std::string_view window = def.name;
                // Queued like a posted menu command: the handler runs once the menu has closed.
                QObject::connect(action, &QAction::triggered, this, [window, source] {
                    QMetaObject::invokeMethod(
                        qApp, [window, source] { dispatch(window, source, Event::Chosen); },
                        Qt::QueuedConnection);
                });
            } else {
                continue;
            }
            action->setObjectName(toQString(item.caption));
            action->setVisible(!item.hidden);
            action->setEnabled(!item.disabled);
            if (item.ticked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
        }
        layout->setMenuBar(menuBar_);
    }
    client_ = new ClientArea(def, this);
    client_->setObjectName(QStringLiteral("clientArea"));
    layout->addWidget(client_);

    controls_.reserve(def.controls.size());
    for (std::size_t i = 0; i < def.controls.size(); ++i)
        createControl(def.controls[i], i);
    // An earlier control lies in front of a later one of the same container.
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        if (it->widget)
            it->widget->raise();
    }
    for (ControlState& control : controls_) {
        if (control.widget)
            control.widget->setVisible(shownNow(control));
    }
    // A tab control comes last in the focus chain, as on Windows, where it lies behind the
    // controls of its pages: the window still opens with the focus on its first control.
    QWidget* last = nullptr;
    for (ControlState& control : controls_) {
        if (control.widget && control.def->kind != ControlKind::TabControl &&
            (control.widget->focusPolicy() & Qt::TabFocus)) {
            last = control.widget;
        }
    }
    for (ControlState& control : controls_) {
        if (last != nullptr && control.widget && control.def->kind == ControlKind::TabControl) {
            QWidget* bar = static_cast<QTabWidget*>(control.widget.data())->tabBar();
            QWidget::setTabOrder(last, bar);
            last = bar;
        }
    }

    frameWatch_.setInterval(25);
    QObject::connect(&frameWatch_, &QTimer::timeout, this, [this] { fitFrame(); });
}

QWidget* WindowWidget::containerOf(const ControlDef& def) {
    if (!def.tabControl.empty()) {
        if (ControlState* tab = control(def.tabControl); tab != nullptr && tab->widget) {
            // Page controls are children of the tab control itself, placed relative to its
            // top-left corner (tab headers included), and shown by the page rule.
            return tab->widget;
        }
    }
    return client_;
}

void WindowWidget::createControl(const ControlDef& def, std::size_t index) {
    ControlState control;
    control.def = &def;
    control.visibleFlag = def.visible;
    control.disabled = def.disabled;
    control.caption = toQString(def.caption);
    QWidget* parent = containerOf(def);
    QWidget* widget = nullptr;
    const std::string_view window = def_.name;
    const std::string_view source = def.name;
    auto raiseClicked = [window, source] { dispatch(window, source, Event::Clicked); };

    switch (def.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton(escapeMnemonic(control.caption), parent);
            button->setAutoDefault(false);
            button->setFont(makeFont(def.font));
            QObject::connect(button, &QPushButton::clicked, this, raiseClicked);
            widget = button;
            break;
        }
        case ControlKind::PictureButton: {
            auto* button = new PictureButton(def, parent);
            QObject::connect(button, &QAbstractButton::clicked, this, raiseClicked);
            widget = button;
            break;
        }
        case ControlKind::Checkbox: {
            auto* box = new QCheckBox(escapeMnemonic(control.caption), parent);
            box->setFont(makeFont(def.font));
            box->setChecked(def.selected);
            QObject::connect(box, &QCheckBox::clicked, this, raiseClicked);
            widget = box;
            break;
        }
        case ControlKind::RadioButton: {
            auto* radio = new ModelRadioButton(escapeMnemonic(control.caption), parent);
            radio->setAutoExclusive(false);
            radio->setFont(makeFont(def.font));
            radio->setChecked(def.selected);
            QObject::connect(radio, &QRadioButton::clicked, this,
                             [this, index] { radioClicked(controls_[index]); });
            widget = radio;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(control.caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setFont(makeFont(def.font));
            widget = label;
            break;
        }
        case ControlKind::TransparentLabel:
            widget = new TransparentLabel(def, parent);
            break;
        case ControlKind::EditBox:
            widget = new EditBox(def, parent);
            break;
        case ControlKind::TabControl: {
            auto* tabs = new QTabWidget(parent);
            tabs->setFont(makeFont(def.font));
            for (std::string_view page : def.pages) {
                auto* pageWidget = new QWidget(tabs);
                tabs->addTab(pageWidget, escapeMnemonic(toQString(page)));
            }
            // A click on a header focuses the bar too, as on Windows, so the arrows turn the
            // pages from there (Qt's own bar takes the focus by Tab only).
            tabs->tabBar()->setFocusPolicy(def.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
            const std::string_view tabName = def.name;
            QObject::connect(tabs, &QTabWidget::currentChanged, this,
                             [this, tabName](int) { applyPageRule(tabName); });
            // Every page caption in view at once, as the layouts were drawn for: narrower tab
            // padding than the desktop style's, and no scroll arrows.
            tabs->tabBar()->setUsesScrollButtons(false);
            tabs->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 7px; }"));
            tabs->tabBar()->setProperty(kControlIndexProperty, static_cast<qulonglong>(index));
            tabs->tabBar()->installEventFilter(this);
            tabs->tabBar()->setMouseTracking(true);
            widget = tabs;
            break;
        }
        case ControlKind::Timer: {
            control.timer = new QTimer(this);
            control.timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(control.timer, &QTimer::timeout, this,
                             [window, source] { dispatch(window, source, Event::Tick); });
            break;
        }
        case ControlKind::BalloonTip:
            break;
    }

    if (widget != nullptr) {
        widget->setObjectName(toQString(def.name));
        widget->setGeometry(def.rect.left, def.rect.top, def.rect.width, def.rect.height);
        widget->setEnabled(!def.disabled);
        if (def.kind != ControlKind::PictureButton && def.kind != ControlKind::Label &&
            def.kind != ControlKind::TransparentLabel && def.kind != ControlKind::TabControl) {
            widget->setFocusPolicy(def.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        }
        if (def.cursor == Cursor::Hand)
            widget->setCursor(Qt::PointingHandCursor);
        widget->setMouseTracking(true);
        widget->setProperty(kControlIndexProperty, static_cast<qulonglong>(index));
        widget->installEventFilter(this);
        control.widget = widget;
    }
    controls_.push_back(control);
}

ControlState* WindowWidget::control(std::string_view name) {
    for (ControlState& control : controls_) {
        if (control.def->name == name)
            return &control;
    }
    return nullptr;
}

bool WindowWidget::shownNow(const ControlState& control) {
    if (!control.visibleFlag)
        return false;
    const ControlDef& def = *control.def;
    if (def.tabControl.empty())
        return true;
    ControlState* tab = this->control(def.tabControl);
    if (tab == nullptr || !tab->widget)
        return true;
    return static_cast<QTabWidget*>(tab->widget.data())->currentIndex() == def.page;
}

void WindowWidget::applyPageRule(std::string_view tabControl) {
    for (ControlState& control : controls_) {
        if (control.widget && control.def->tabControl == tabControl) {
            control.widget->setVisible(shownNow(control));
        }
    }
}

void WindowWidget::setControlVisibleFlag(ControlState& control, bool visible) {
    control.visibleFlag = visible;
    if (control.widget)
        control.widget->setVisible(shownNow(control));
}

void WindowWidget::radioClicked(ControlState& clicked) {
    // The group is the radio's page (or the window, for radios on no page).
    for (ControlState& other : controls_) {
        if (&other == &clicked || other.def->kind != ControlKind::RadioButton)
            continue;
        if (other.def->tabControl != clicked.def->tabControl ||
            other.def->page != clicked.def->page) {
            continue;
        }
        static_cast<QAbstractButton*>(other.widget.data())->setChecked(false);
    }
    dispatch(def_.name, clicked.def->name, Event::Clicked);
}

void WindowWidget::setInterval(ControlState& control, int milliseconds) {
    milliseconds = std::max(0, milliseconds);
    // The same value keeps the phase; anything else starts counting afresh.
    if (milliseconds == control.interval)
        return;
    control.interval = milliseconds;
    control.timer->stop();
    if (milliseconds > 0 && !destroying)
        control.timer->start(milliseconds);
}

void WindowWidget::startTimers() {
    for (ControlState& control : controls_) {
        if (control.timer != nullptr) {
            control.interval = 0;
            setInterval(control, control.def->interval);
        }
    }
}

void WindowWidget::stopTimers() {
    for (ControlState& control : controls_) {
        if (control.timer != nullptr)
            control.timer->stop();
    }
}

void WindowWidget::applyOuterSize(QMargins frame) {
    const int width = std::max(1, def_.rect.width - frame.left() - frame.right());
    const int height = std::max(1, def_.rect.height - frame.top() - frame.bottom());
    if (size() != QSize(width, height) || minimumSize() != maximumSize()) {
        setFixedSize(width, height);
    }
}

void WindowWidget::place() {
    QPoint position(def_.rect.left, def_.rect.top);
    if (def_.startPosition == 1) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            position = QPoint(area.left() + (area.width() - def_.rect.width) / 2,
                              area.top() + (area.height() - def_.rect.height) / 2);
        }
    }
    // A top-level's position is that of its outer frame. A native window created before it is
    // shown (to ask the window manager about it) is placed by its client area instead, so the
    // client goes where the frame leaves it.
    if (testAttribute(Qt::WA_WState_Created) && def_.border != 0)
        position += QPoint(state().knownFrame.left(), state().knownFrame.top());
    move(position);
}

// Without this a titled window would be mapped at the full outer size and shrink a moment
// later, once its frame could be seen. Each window is asked about, as the frame depends on its
// decorations; a manager that did not answer once is not asked again.
bool askFrame(QWidget& window) {
    RuntimeState& runtime = state();
    if (runtime.frameAnswers == RuntimeState::FrameAnswers::Unknown) {
        // Only the X platform has a window manager to ask; the offscreen one draws no frames.
        const bool offered = QGuiApplication::platformName() == QLatin1String("xcb") &&
                             platform::canRequestFrameExtents();
        if (!offered)
            runtime.frameAnswers = RuntimeState::FrameAnswers::No;
    }
    if (runtime.frameAnswers == RuntimeState::FrameAnswers::No)
        return false;
    const auto frame = platform::requestFrameExtents(window.winId());
    if (!frame) {
        if (runtime.frameAnswers == RuntimeState::FrameAnswers::Unknown)
            runtime.frameAnswers = RuntimeState::FrameAnswers::No;
        return false;
    }
    runtime.frameAnswers = RuntimeState::FrameAnswers::Yes;
    runtime.knownFrame = QMargins(frame->left, frame->top, frame->right, frame->bottom);
    return true;
}

void WindowWidget::showFromDefinition() {
    applyOuterSize(def_.border == 0 ? QMargins() : state().knownFrame);
    // The manager is asked once the window carries its fixed size, which decides whether the
    // frame has a resize handle.
    if (def_.border != 0 && askFrame(*this))
        applyOuterSize(state().knownFrame);
    place();
    show();
    if (def_.border != 0) {
        frameChecks_ = 0;
        frameWatch_.start();
        fitFrame();
    }
}

// The frame is known only once the window manager has put it around the mapped window: then
// the client shrinks so that the outer rectangle has the defined size.
void WindowWidget::fitFrame() {
    QWindow* handle = windowHandle();
    const QMargins frame = handle != nullptr ? handle->frameMargins() : QMargins();
    if (!frame.isNull()) {
        state().knownFrame = frame;
        applyOuterSize(frame);
        if (frameGeometry().size() == QSize(def_.rect.width, def_.rect.height)) {
            frameWatch_.stop();
            return;
        }
    }
    if (++frameChecks_ > 80)
        frameWatch_.stop();  // no window manager: the client is all
}

void WindowWidget::clickDefault() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* button = qobject_cast<QPushButton*>(focus);
        button != nullptr && window() == button->window() && button->isEnabled()) {
        // A focused push button takes Enter itself.
        button->click();
        return;
    }
    for (ControlState& control : controls_) {
        if (control.def->kind == ControlKind::Button && control.def->defaultButton) {
            if (control.widget && control.widget->isEnabled()) {
                static_cast<QPushButton*>(control.widget.data())->click();
            }
            return;  // only the first default button counts
        }
    }
}

void WindowWidget::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (event->key() == Qt::Key_Escape && plain && def_.escCloses) {
        close();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        if (def_.enterMovesFocus) {
            focusNextChild();
        } else {
            clickDefault();
        }
        return;
    }
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages from anywhere in the window, as on a property
    // sheet; inside the tab control, QTabWidget has already done so.
    const Qt::KeyboardModifiers chord = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
        (chord & Qt::ControlModifier) && !(chord & (Qt::AltModifier | Qt::MetaModifier))) {
        const bool back = event->key() == Qt::Key_Backtab || (chord & Qt::ShiftModifier);
        if (turnPage(back ? -1 : 1))
            return;
    }
    QWidget::keyPressEvent(event);
}

bool WindowWidget::turnPage(int step) {
    for (ControlState& control : controls_) {
        if (control.def->kind != ControlKind::TabControl || !control.widget ||
            !control.widget->isVisible() || !control.widget->isEnabled()) {
            continue;
        }
        auto* tabs = static_cast<QTabWidget*>(control.widget.data());
        const int count = tabs->count();
        for (int page = tabs->currentIndex(), pass = 1; pass < count; ++pass) {
            page = (page + step + count) % count;
            if (tabs->isTabEnabled(page)) {
                tabs->setCurrentIndex(page);
                break;
            }
        }
        return true;
    }
    return false;
}

void WindowWidget::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!destroying)
        destroyWindow(this);
}

bool WindowWidget::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove)
        return false;
    const QVariant indexValue = watched->property(kControlIndexProperty);
    if (!indexValue.isValid())
        return false;
    const auto index = static_cast<std::size_t>(indexValue.toULongLong());
    if (index >= controls_.size())
        return false;
    const ControlState& control = controls_[index];
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress && mouse->button() != Qt::LeftButton)
        return false;
    QPoint position = mouse->position().toPoint();
    if (auto* from = qobject_cast<QWidget*>(watched);
        from != nullptr && control.widget && from != control.widget) {
        position = from->mapTo(control.widget.data(), position);
    }
    const EventArgs args{position.x(), position.y(), keyState(mouse->modifiers())};
    dispatch(def_.name, control.def->name,
             type == QEvent::MouseButtonPress ? Event::LeftButtonDown : Event::MouseMoved, args);
    return false;
}

}  // namespace lumora::ui::detail
