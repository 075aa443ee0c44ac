// The control-level half of the property interface, pop-up menus and balloon tips.
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
#include "ui/qt/balloon_widget.h"
#include "ui/events.h"
#include "ui/qt/fonts.h"
#include "ui/qt/widgets.h"
#include "ui/windows.h"
#include "ui/qt/window_widget.h"

namespace lumora::ui {

using namespace detail;

std::string controlText(std::string_view window, std::string_view control) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget)
        return {};
    QWidget* widget = state->widget.data();
    switch (state->def->kind) {
        case ControlKind::Button:
        case ControlKind::Checkbox:
        case ControlKind::RadioButton:
            return state->caption.toStdString();
        case ControlKind::Label:
            return static_cast<QLabel*>(widget)->text().toStdString();
        case ControlKind::TransparentLabel:
            return static_cast<TransparentLabel*>(widget)->text().toStdString();
        case ControlKind::EditBox:
            return static_cast<QLineEdit*>(widget)->text().toStdString();
        default:
            return {};
    }
}

void setControlText(std::string_view window, std::string_view control, std::string_view text) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget)
        return;
    QWidget* widget = state->widget.data();
    const QString value = toQString(text);
    switch (state->def->kind) {
        case ControlKind::Button:
        case ControlKind::Checkbox:
        case ControlKind::RadioButton:
            state->caption = value;
            static_cast<QAbstractButton*>(widget)->setText(escapeMnemonic(value));
            break;
        case ControlKind::Label:
            static_cast<QLabel*>(widget)->setText(value);
            break;
        case ControlKind::TransparentLabel:
            static_cast<TransparentLabel*>(widget)->setText(value);
            break;
        case ControlKind::EditBox:
            // Text from the logic is taken as it is; the box's limits govern typing only.
            static_cast<EditBox*>(widget)->setTextFromLogic(value);
            break;
        default:
            break;
    }
}

bool controlVisible(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->visibleFlag;
}

void setControlVisible(std::string_view window, std::string_view control, bool visible) {
    WindowWidget* widget = findWindow(window);
    ControlState* state = widget != nullptr ? widget->control(control) : nullptr;
    if (state != nullptr)
        widget->setControlVisibleFlag(*state, visible);
}

bool controlDisabled(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->disabled;
}

void setControlDisabled(std::string_view window, std::string_view control, bool disabled) {
    ControlState* state = findControl(window, control);
    if (state == nullptr)
        return;
    state->disabled = disabled;
    if (state->widget)
        state->widget->setEnabled(!disabled);
}

bool controlSelected(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget)
        return false;
    if (state->def->kind != ControlKind::Checkbox && state->def->kind != ControlKind::RadioButton) {
        return false;
    }
    return static_cast<QAbstractButton*>(state->widget.data())->isChecked();
}

void setControlSelected(std::string_view window, std::string_view control, bool selected) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget)
        return;
    if (state->def->kind != ControlKind::Checkbox && state->def->kind != ControlKind::RadioButton) {
        return;
    }
    // Only this control: no group rule and no Clicked from code.
    static_cast<QAbstractButton*>(state->widget.data())->setChecked(selected);
}

int timerInterval(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    return state != nullptr && state->timer != nullptr ? state->interval : 0;
}

void setTimerInterval(std::string_view window, std::string_view control, int milliseconds) {
    WindowWidget* widget = findWindow(window);
    ControlState* state = widget != nullptr ? widget->control(control) : nullptr;
    if (state != nullptr && state->timer != nullptr)
        widget->setInterval(*state, milliseconds);
}

Colour textColour(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget || state->def->kind != ControlKind::TransparentLabel) {
        return 0;
    }
    return static_cast<TransparentLabel*>(state->widget.data())->textColour();
}

void setTextColour(std::string_view window, std::string_view control, Colour colour) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget || state->def->kind != ControlKind::TransparentLabel) {
        return;
    }
    static_cast<TransparentLabel*>(state->widget.data())->setTextColour(colour & 0x00FFFFFF);
}

int currentPage(std::string_view window, std::string_view control) {
    const ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget || state->def->kind != ControlKind::TabControl)
        return 0;
    return static_cast<QTabWidget*>(state->widget.data())->currentIndex();
}

void setCurrentPage(std::string_view window, std::string_view control, int page) {
    ControlState* state = findControl(window, control);
    if (state == nullptr || !state->widget || state->def->kind != ControlKind::TabControl)
        return;
    auto* tabs = static_cast<QTabWidget*>(state->widget.data());
    if (page < 0 || page >= tabs->count())
        return;
    tabs->setCurrentIndex(page);
}

void popupMenu(std::string_view window, std::string_view menuCaption, std::optional<int> x,
               std::optional<int> y) {
    WindowWidget* widget = findWindow(window);
    if (widget == nullptr)
        return;
    const std::span<const MenuItemDef> items = widget->def().menu;
    auto top = std::find_if(items.begin(), items.end(), [menuCaption](const MenuItemDef& item) {
        return item.level == 0 && item.caption == menuCaption;
    });
    if (top == items.end())
        return;
    QMenu menu;
    menu.setObjectName(toQString(menuCaption));
    std::vector<std::pair<QAction*, std::string_view>> actions;
    for (auto it = top + 1; it != items.end() && it->level > 0; ++it) {
        if (it->hidden)
            continue;
        QAction* action = menu.addAction(escapeMnemonic(toQString(it->caption)));
        action->setObjectName(toQString(it->caption));
        action->setEnabled(!it->disabled);
        if (it->ticked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        actions.emplace_back(action, it->caption);
    }
    QPoint position = QCursor::pos() + QPoint(3, 3);
    if (x)
        position.setX(*x);
    if (y)
        position.setY(*y);
    const std::string_view windowName = widget->name();
    // Whichever way an item was chosen (mouse, keys), the menu reports it here; the handler
    // runs once the menu has closed.
    std::optional<std::string_view> chosen;
    QObject::connect(&menu, &QMenu::triggered, &menu, [&](QAction* action) {
        for (const auto& [item, caption] : actions) {
            if (item == action)
                chosen = caption;
        }
    });
    menu.exec(position);
    if (chosen)
        dispatch(windowName, *chosen, Event::Chosen);
}

bool showBalloonTip(std::string_view window, std::string_view balloon, int x, int y,
                    std::string_view text, int /*imageIndex: no image list in this program*/,
                    bool autoHide) {
    const ControlState* control = findControl(window, balloon);
    if (control == nullptr || control->def->kind != ControlKind::BalloonTip)
        return false;
    RuntimeState& runtime = state();
    if (!runtime.balloon)
        runtime.balloon = new BalloonWidget();
    // A new showing replaces the one before.
    runtime.balloon->showAt(QPoint(x, y), toQString(text), autoHide);
    return true;
}

bool balloonShown() {
    const RuntimeState& runtime = state();
    return runtime.balloon && runtime.balloon->isVisible();
}

}  // namespace lumora::ui
