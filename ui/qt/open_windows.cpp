// The windows that are open, and the window-level half of the property interface.
#include "ui/runtime.h"

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
#include "ui/qt/window_widget.h"
#include "ui/windows.h"

namespace lumora::ui {

namespace detail {

WindowWidget* findWindow(std::string_view name) {
    for (const QPointer<WindowWidget>& window : state().windows) {
        if (window && window->name() == name)
            return window.data();
    }
    return nullptr;
}

ControlState* findControl(std::string_view window, std::string_view control) {
    WindowWidget* widget = findWindow(window);
    return widget != nullptr ? widget->control(control) : nullptr;
}

void forget(WindowWidget* window) {
    auto& windows = state().windows;
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [window](const QPointer<WindowWidget>& entry) {
                                     return !entry || entry.data() == window;
                                 }),
                  windows.end());
}

void maybeQuit() {
    RuntimeState& runtime = state();
    if (!runtime.quitWhenLast || !runtime.windows.empty())
        return;
    // Only an event loop of the program's own (not a modal window's, and not a test without
    // one) is ended; quitting where no loop runs would make every later loop return at once.
    if (QThread::currentThread()->loopLevel() - runtime.modalDepth <= 0)
        return;
    QCoreApplication::quit();
}

void destroyWindow(WindowWidget* window) {
    if (window->destroying)
        return;
    window->destroying = true;
    window->stopTimers();
    QPointer<WindowWidget> guard(window);
    dispatch(window->name(), window->name(), Event::Destroying);
    if (!guard)
        return;
    forget(window);
    window->hide();
    if (window->modalLoop != nullptr)
        window->modalLoop->quit();
    window->deleteLater();
    maybeQuit();
}

void installAppHooks() {
    RuntimeState& runtime = state();
    if (runtime.appHooksInstalled)
        return;
    runtime.appHooksInstalled = true;
    // Hiding the last visible window (main window in the tray) must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Windows still open at the end of the program are destroyed, raising Destroying.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] {
        const auto windows = state().windows;
        for (const QPointer<WindowWidget>& window : windows) {
            if (window)
                destroyWindow(window.data());
        }
    });
    platform::setTrayEventSink([](WindowHandle owner, int event) {
        for (const QPointer<WindowWidget>& window : state().windows) {
            if (window && !window->destroying && window->winId() == owner) {
                const std::string_view name = window->name();
                dispatch(name, name, Event::Tray, EventArgs{event, 0, 0});
                return;
            }
        }
    });
}

WindowWidget* open(std::string_view name, bool modal) {
    const WindowDef* def = findWindowDef(name);
    if (def == nullptr || qApp == nullptr)
        return nullptr;
    installAppHooks();
    if (WindowWidget* existing = findWindow(name)) {
        if (!existing->closeRequested && !existing->destroying) {
            existing->show();
            existing->raise();
            existing->activateWindow();
            return existing;
        }
        // A close asked for in the same handler: that window goes now, a fresh one comes.
        destroyWindow(existing);
    }
    auto* window = new WindowWidget(*def, modal);
    state().windows.emplace_back(window);
    window->startTimers();
    window->showFromDefinition();
    QPointer<WindowWidget> guard(window);
    dispatch(def->name, def->name, Event::Created);
    return guard.data();
}

}  // namespace detail

using namespace detail;

WindowHandle openWindow(std::string_view window) {
    WindowWidget* widget = open(window, false);
    return widget != nullptr && !widget->destroying ? static_cast<WindowHandle>(widget->winId())
                                                    : 0;
}

void openWindowModal(std::string_view window) {
    if (WindowWidget* existing = findWindow(window);
        existing != nullptr && !existing->closeRequested && !existing->destroying) {
        open(window, true);  // brings it forward; the loop that waits for it is further up
        return;
    }
    QPointer<WindowWidget> widget = open(window, true);
    if (!widget || widget->destroying)
        return;
    QEventLoop loop;
    widget->modalLoop = &loop;
    ++state().modalDepth;
    loop.exec();
    --state().modalDepth;
    if (widget)
        widget->modalLoop = nullptr;
}

void closeWindow(std::string_view window) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr || widget->closeRequested || widget->destroying)
        return;
    widget->closeRequested = true;
    QPointer<WindowWidget> guard(widget);
    QMetaObject::invokeMethod(
        widget,
        [guard] {
            if (guard)
                destroyWindow(guard.data());
        },
        Qt::QueuedConnection);
}

bool isWindowOpen(std::string_view window) {
    const WindowWidget* widget = findWindow(window);
    return widget != nullptr && !widget->destroying;
}

bool anyWindowOpen() {
    const auto& windows = state().windows;
    return std::any_of(windows.begin(), windows.end(), [](const QPointer<WindowWidget>& window) {
        return window && !window->destroying;
    });
}

WindowHandle windowHandle(std::string_view window) {
    WindowWidget* widget = findWindow(window);
    return widget != nullptr ? static_cast<WindowHandle>(widget->winId()) : 0;
}

void repaintWindow(std::string_view window) {
    if (WindowWidget* widget = findWindow(window))
        widget->repaint();
}

bool windowVisible(std::string_view window) {
    const WindowWidget* widget = findWindow(window);
    return widget != nullptr && widget->isVisible();
}

void setWindowVisible(std::string_view window, bool visible) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr || widget->destroying || widget->isVisible() == visible)
        return;
    if (visible) {
        widget->show();
        widget->raise();
        widget->activateWindow();
    } else {
        widget->hide();
    }
}

void bringWindowToFront(std::string_view window) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr || widget->destroying)
        return;
    widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
    widget->show();
    widget->raise();
    widget->activateWindow();
}

void minimizeWindow(std::string_view window) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr || widget->destroying)
        return;
    widget->showMinimized();
}

bool windowMinimized(std::string_view window) {
    const WindowWidget* widget = findWindow(window);
    return widget != nullptr && widget->isMinimized();
}

int windowLeft(std::string_view window) {
    const WindowWidget* widget = findWindow(window);
    return widget != nullptr ? widget->frameGeometry().x() : 0;
}

int windowTop(std::string_view window) {
    const WindowWidget* widget = findWindow(window);
    return widget != nullptr ? widget->frameGeometry().y() : 0;
}

std::vector<platform::ScreenRect> shownWindowRects() {
    std::vector<platform::ScreenRect> rects;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->isMinimized())
            continue;
        // Qt places windows in device-independent pixels; the screen's pixels may be more.
        const qreal ratio = widget->devicePixelRatioF();
        const QRect frame = widget->frameGeometry();
        rects.push_back({static_cast<int>(frame.x() * ratio), static_cast<int>(frame.y() * ratio),
                         static_cast<int>(frame.width() * ratio + 0.999),
                         static_cast<int>(frame.height() * ratio + 0.999)});
    }
    return rects;
}

void setWindowAlwaysOnTop(std::string_view window, bool onTop) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr)
        return;
    const Qt::WindowFlags flags = widget->windowFlags();
    if (flags.testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const Qt::WindowFlags wanted =
        onTop ? (flags | Qt::WindowStaysOnTopHint) : (flags & ~Qt::WindowStaysOnTopHint);
    if (QWindow* handle = widget->windowHandle()) {
        // Through the native window, so a shown window stays mapped and in place.
        handle->setFlags(wanted);
        widget->overrideWindowFlags(wanted);
    } else {
        widget->setWindowFlags(wanted);
    }
}

void quitWhenLastWindowDestroyed(bool quit) {
    state().quitWhenLast = quit;
}

}  // namespace lumora::ui
