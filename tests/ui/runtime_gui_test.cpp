// The property interface and control behaviours of the window model, on Qt's offscreen
// platform, driven through real key and mouse input where the user would act.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::ui {
namespace {

using test::waitUntil;

constexpr std::string_view S = kSettingsWindow;
constexpr std::string_view M = kMainWindow;

// What the handlers of a test saw, in order.
std::vector<std::string> seen;

void record(std::string what) {
    seen.push_back(std::move(what));
}

template <typename W = QWidget>
W* widget(std::string_view window, std::string_view control) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QString::fromUtf8(window.data(), window.size())) {
            return top->findChild<W*>(QString::fromUtf8(control.data(), control.size()));
        }
    }
    return nullptr;
}

QWidget* topLevel(std::string_view window) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QString::fromUtf8(window.data(), window.size()) &&
            isWindowOpen(window)) {
            return top;
        }
    }
    return nullptr;
}

void closeAndWait(std::string_view window) {
    closeWindow(window);
    waitUntil([&] { return !isWindowOpen(window); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        quitWhenLastWindowDestroyed(false);
        seen.clear();
        installBindings({});
    }
    void TearDown() override {
        for (const WindowDef& def : windowDefinitions()) {
            if (isWindowOpen(def.name))
                closeAndWait(def.name);
        }
        installBindings({});
    }
};

TEST_F(RuntimeTest, OpensFromDefinitionWithInitialStates) {
    const WindowHandle handle = openWindow(S);
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(isWindowOpen(S));
    EXPECT_EQ(windowHandle(S), handle);
    EXPECT_TRUE(controlSelected(S, "bmp模式"));
    EXPECT_FALSE(controlSelected(S, "jpg模式"));
    EXPECT_TRUE(controlSelected(S, "选择框3"));
    EXPECT_TRUE(controlDisabled(S, "选择框3"));
    EXPECT_FALSE(controlVisible(S, "音效1"));
    EXPECT_TRUE(controlVisible(S, "选择框_开启音效"));
    EXPECT_EQ(controlText(S, "立即生效"), "立即生效！");
    EXPECT_EQ(controlText(S, "编辑框_定时"), "");
    EXPECT_EQ(currentPage(S, "选择夹1"), 0);
    // Unknown names read as zero values and ignore writes.
    EXPECT_EQ(controlText(S, "nothing"), "");
    setControlText(S, "nothing", "x");
    EXPECT_FALSE(controlSelected("NoWindow", "bmp模式"));
    EXPECT_EQ(windowHandle("NoWindow"), 0u);
    EXPECT_EQ(openWindow("NoWindow"), 0u);
}

}  // namespace
}  // namespace lumora::ui
