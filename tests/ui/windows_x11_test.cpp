// The three windows on a real X server under a window manager: outer sizes with the frame,
// the client area below the menu bar, stacking of picture buttons over their buttons, and the
// logo window's frameless, always-on-top look. With LUMORA_SHOT_DIR set, each arrangement is
// also saved as a screenshot of the whole screen for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWindow>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/logo_window.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::ui {
namespace {

using test::waitUntil;

QWidget* topLevel(std::string_view window) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QString::fromUtf8(window.data(), window.size()) &&
            top->isVisible()) {
            return top;
        }
    }
    return nullptr;
}

QWidget* child(std::string_view window, std::string_view name) {
    QWidget* top = topLevel(window);
    return top ? top->findChild<QWidget*>(QString::fromUtf8(name.data(), name.size())) : nullptr;
}

bool hasOuterSize(std::string_view window, int width, int height) {
    QWidget* top = topLevel(window);
    return top != nullptr && top->frameGeometry().size() == QSize(width, height);
}

void shoot(const std::string& name) {
    const char* dir = std::getenv("LUMORA_SHOT_DIR");
    if (dir == nullptr)
        return;
    QTest::qWait(300);
    test::runCommand("import -window root '" + std::string(dir) + "/" + name + ".png'");
}

class WindowsX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        quitWhenLastWindowDestroyed(false);
        installBindings(bindings);
    }
    void TearDown() override {
        for (const WindowDef& def : windowDefinitions())
            closeWindow(def.name);
        waitUntil([] {
            for (const WindowDef& def : windowDefinitions()) {
                if (isWindowOpen(def.name))
                    return false;
            }
            return true;
        });
        installBindings({});
    }
    static constexpr Binding bindings[] = {
        {kLogoWindow, kLogoWindow, Event::Created, &onLogoWindowCreated},
    };
};

// Sizes of a top-level window the moment it is first exposed, before anything could correct it.
class FirstExposure : public QObject {
public:
    explicit FirstExposure(QString widgetName) : widgetName_(std::move(widgetName)) {
        qApp->installEventFilter(this);
    }
    ~FirstExposure() override { qApp->removeEventFilter(this); }
    bool seen() const { return seen_; }
    QRect frame() const { return frame_; }
    QSize client() const { return client_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (seen_ || event->type() != QEvent::Expose)
            return false;
        auto* window = qobject_cast<QWindow*>(watched);
        if (window == nullptr || !window->isExposed())
            return false;
        QWidget* widget = QWidget::find(window->winId());
        if (widget == nullptr || widget->objectName() != widgetName_)
            return false;
        seen_ = true;
        frame_ = window->frameGeometry();
        client_ = window->size();
        return false;
    }

private:
    QString widgetName_;
    bool seen_ = false;
    QRect frame_;
    QSize client_;
};

// First in this file, so that the main window is the first titled window of the process and
// no mapped window has shown the frame yet.
TEST_F(WindowsX11Test, MainWindowIsMappedAtItsFinalSizeAndPosition) {
    FirstExposure first(QString::fromUtf8(kMainWindow.data(), kMainWindow.size()));
    openWindow(kMainWindow);
    ASSERT_TRUE(waitUntil([&first] { return first.seen(); }));
    ASSERT_TRUE(waitUntil([] { return hasOuterSize(kMainWindow, 503, 335); }));
    QWidget* top = topLevel(kMainWindow);
    EXPECT_EQ(first.frame().size(), QSize(503, 335));
    EXPECT_EQ(first.client(), top->size());
    EXPECT_EQ(first.frame().topLeft(), top->frameGeometry().topLeft());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(first.frame().center().x(), area.center().x(), 2);
    EXPECT_NEAR(first.frame().center().y(), area.center().y(), 2);
    // Nothing is corrected afterwards either.
    QTest::qWait(300);
    EXPECT_EQ(top->frameGeometry(), first.frame());
}

TEST_F(WindowsX11Test, MainWindowHasItsOuterSizeAndControlsSitInTheClientArea) {
    openWindow(kMainWindow);
    ASSERT_TRUE(waitUntil([] { return hasOuterSize(kMainWindow, 503, 335); }))
        << "outer size stayed " << topLevel(kMainWindow)->frameGeometry().width() << "x"
        << topLevel(kMainWindow)->frameGeometry().height();
    QWidget* top = topLevel(kMainWindow);
    // The size is right before the window is mapped; where it sits is known only once the
    // window manager has placed and shown it.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    auto* menuBar = top->findChild<QMenuBar*>(QStringLiteral("menuBar"));
    QWidget* client = top->findChild<QWidget*>(QStringLiteral("clientArea"));
    ASSERT_NE(menuBar, nullptr);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->mapTo(top, QPoint(0, 0)).y(), menuBar->geometry().bottom() + 1);
    EXPECT_EQ(client->width(), top->width());
    // Controls at their rectangles in the client area, picture buttons in front.
    QWidget* change = child(kMainWindow, "按钮3");
    QWidget* pictureChange = child(kMainWindow, "图形按钮1");
    ASSERT_NE(change, nullptr);
    ASSERT_NE(pictureChange, nullptr);
    EXPECT_EQ(change->geometry(), QRect(416, 24, 80, 32));
    EXPECT_EQ(pictureChange->geometry(), QRect(416, 24, 80, 32));
    EXPECT_EQ(client->childAt(450, 40), pictureChange);
    EXPECT_EQ(client->childAt(300, 250), child(kMainWindow, "图形按钮3"));
    EXPECT_EQ(client->childAt(420, 250), child(kMainWindow, "图形按钮2"));
    // The window is centred on the primary screen's work area by its outer size.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(top->frameGeometry().center().x(), area.center().x(), 2);
    EXPECT_NEAR(top->frameGeometry().center().y(), area.center().y(), 2);
    EXPECT_EQ(windowLeft(kMainWindow), top->frameGeometry().x());
    EXPECT_EQ(windowTop(kMainWindow), top->frameGeometry().y());
    shoot("main_window");
}

TEST_F(WindowsX11Test, SettingsWindowPagesShowTheirGroups) {
    openWindow(kSettingsWindow);
    ASSERT_TRUE(waitUntil([] { return hasOuterSize(kSettingsWindow, 444, 288); }));
    // Every group shown, so a person can check that nothing overlaps or is cut.
    for (std::string_view name :
         {"音效1", "音效2", "音效3", "按钮_音效试听", "透明标签1", "透明标签2", "透明标签3",
          "编辑框_自定义长", "编辑框_自定义宽", "标签2", "编辑框_自定义名",
          "选择框_定时截图_活动窗口", "标签_定时", "编辑框_定时", "选择框_间断截图_活动窗口",
          "标签_间时", "编辑框_间时"}) {
        setControlVisible(kSettingsWindow, name, true);
    }
    setControlText(kSettingsWindow, "编辑框_定时", "12：00：00；18：30：00");
    setControlText(kSettingsWindow, "编辑框_间时", "30");
    for (int page = 0; page < 7; ++page) {
        setCurrentPage(kSettingsWindow, "选择夹1", page);
        EXPECT_EQ(currentPage(kSettingsWindow, "选择夹1"), page);
        shoot("settings_page" + std::to_string(page));
    }
    // The hint of the interval checkbox, where the settings window puts it.
    const int x = windowLeft(kSettingsWindow) + 112;
    const int y = windowTop(kSettingsWindow) + 155;
    ASSERT_TRUE(showBalloonTip(kSettingsWindow, "气球提示框1", x, y,
                               "该功能是从设置生效后每隔一定时间截图一次，并自动保存。\r\n"
                               "此功能可以用作屏幕监视.，时间单位为 ‘秒’"));
    EXPECT_TRUE(balloonShown());
    shoot("settings_balloon");
}

TEST_F(WindowsX11Test, SettingsPagesAreReachedByKeyboardAndTheirHeadersStayPut) {
    openWindow(kSettingsWindow);
    QWidget* top = topLevel(kSettingsWindow);
    ASSERT_NE(top, nullptr);
    top->activateWindow();
    ASSERT_TRUE(waitUntil([top] { return QApplication::activeWindow() == top; }));
    auto* tabs = static_cast<QTabWidget*>(child(kSettingsWindow, "选择夹1"));
    QTabBar* bar = tabs->tabBar();
    std::vector<QRect> headers;
    for (int i = 0; i < bar->count(); ++i)
        headers.push_back(bar->tabRect(i));
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    };
    const auto page = [] { return currentPage(kSettingsWindow, "选择夹1"); };

    // From the buttons below the pages, Ctrl+Tab and Ctrl+Shift+Tab turn them, round the end.
    child(kSettingsWindow, "立即生效")->setFocus();
    press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(page(), 1);
    press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(page(), 6);
    EXPECT_EQ(QApplication::focusWidget(), child(kSettingsWindow, "立即生效"));

    // Tab reaches the tab control, where the arrows and Ctrl+Tab go on turning.
    for (int i = 0; i < 30 && QApplication::focusWidget() != bar; ++i)
        press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), bar);
    press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(page(), 0);
    press(Qt::Key_Right);
    EXPECT_EQ(page(), 1);
    QTest::qWait(50);
    for (int i = 0; i < bar->count(); ++i)
        EXPECT_EQ(bar->tabRect(i), headers[static_cast<std::size_t>(i)]) << "header " << i;
}

TEST_F(WindowsX11Test, LogoWindowIsFramelessAndOnTop) {
    openWindow(kLogoWindow);
    QWidget* top = topLevel(kLogoWindow);
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(top->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    ASSERT_TRUE(waitUntil([top] { return top->windowHandle()->isExposed(); }));
    EXPECT_EQ(top->frameGeometry().size(), QSize(694, 163));
    EXPECT_EQ(top->geometry().size(), QSize(694, 163));
    std::string state;
    test::runCommand("xprop -id " + std::to_string(windowHandle(kLogoWindow)) + " _NET_WM_STATE",
                     &state);
    EXPECT_NE(state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << state;
    shoot("logo_window");
}

}  // namespace
}  // namespace lumora::ui
