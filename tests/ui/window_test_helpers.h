#pragma once
// Shared by the window tests: finding the widgets of an open window by the names the
// definitions give, recording dispatched events, and closing every window between tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::ui::testing {

inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The top-level widget of an open window.
inline QWidget* topLevel(std::string_view window) {
    if (!isWindowOpen(window))
        return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == qs(window) && top->isVisible())
            return top;
    }
    return nullptr;
}

template <typename W = QWidget>
W* find(std::string_view window, std::string_view control) {
    QWidget* top = topLevel(window);
    return top != nullptr ? top->findChild<W*>(qs(control)) : nullptr;
}

// What the handlers of a test saw, in order.
inline std::vector<std::string>& seen() {
    static std::vector<std::string> log;
    return log;
}

inline void closeAll() {
    for (const WindowDef& def : windowDefinitions())
        closeWindow(def.name);
    test::waitUntil([] {
        for (const WindowDef& def : windowDefinitions()) {
            if (isWindowOpen(def.name))
                return false;
        }
        return true;
    });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Opens a window and makes it the active one, so keys and focus changes reach it.
inline QWidget* openActive(std::string_view window) {
    openWindow(window);
    QWidget* top = topLevel(window);
    if (top == nullptr)
        return nullptr;
    top->activateWindow();
    test::waitUntil([top] { return QApplication::activeWindow() == top; }, std::chrono::seconds(3));
    return top;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        quitWhenLastWindowDestroyed(false);
        seen().clear();
        installBindings({});
    }
    void TearDown() override {
        closeAll();
        installBindings({});
    }
};

}  // namespace lumora::ui::testing
