// What the user does with keys and the mouse: Esc and Enter, picture buttons in their four
// looks, mouse events of controls, the balloon tip, the menu bar and the pop-up menu.
#include <QAbstractButton>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <string>
#include <utility>

#include "assets/assets.h"
#include "platform/shell.h"
#include "tests/ui/window_test_helpers.h"
#include "ui/qt/widgets.h"

namespace lumora::ui {
namespace {

using namespace testing;
using test::waitUntil;

constexpr std::string_view S = kSettingsWindow;
constexpr std::string_view M = kMainWindow;

EventArgs lastArgs;

void note(std::string what) {
    seen().push_back(std::move(what));
}

using InputTest = WindowTest;

TEST_F(InputTest, EscClosesLikeTheCloseBox) {
    static const Binding table[] = {
        {S, S, Event::Destroying, [](const EventArgs&) { note("settings destroying"); }},
        {M, M, Event::Destroying, [](const EventArgs&) { note("main destroying"); }},
    };
    installBindings(table);
    QWidget* settings = openActive(S);
    ASSERT_NE(settings, nullptr);
    QTest::keyClick(settings, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([] { return !isWindowOpen(S); }));
    QWidget* main = openActive(M);
    ASSERT_NE(main, nullptr);
    QTest::keyClick(main, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([] { return !isWindowOpen(M); }));
    EXPECT_EQ(seen(), (std::vector<std::string>{"settings destroying", "main destroying"}));
}

TEST_F(InputTest, EnterClicksTheDefaultButtonAlsoFromAnEditBox) {
    static const Binding table[] = {
        {S, "立即生效", Event::Clicked, [](const EventArgs&) { note("apply"); }},
        {M, "按钮3", Event::Clicked, [](const EventArgs&) { note("change"); }},
        {M, "按钮1", Event::Clicked, [](const EventArgs&) { note("open"); }},
    };
    installBindings(table);
    QWidget* settings = openActive(S);
    ASSERT_NE(settings, nullptr);
    setCurrentPage(S, "选择夹1", 4);
    setControlVisible(S, "编辑框_自定义名", true);
    auto* name = find<QLineEdit>(S, "编辑框_自定义名");
    name->setFocus();
    QTest::keyClicks(name, "shot");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(seen(), std::vector<std::string>{"apply"});
    // From a checkbox too.
    QWidget* box = find(S, "单选框_取现行时间");
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Enter);
    EXPECT_EQ(seen().size(), 2u);
    closeAll();
    seen().clear();

    QWidget* main = openActive(M);
    ASSERT_NE(main, nullptr);
    QTest::keyClick(main, Qt::Key_Return);
    EXPECT_EQ(seen(), std::vector<std::string>{"change"});
    // A focused push button takes Enter itself.
    find(M, "按钮1")->setFocus();
    QTest::keyClick(find(M, "按钮1"), Qt::Key_Return);
    EXPECT_EQ(seen(), (std::vector<std::string>{"change", "open"}));
    // A disabled default button is not clicked.
    seen().clear();
    setControlDisabled(M, "按钮3", true);
    QTest::keyClick(main, Qt::Key_Return);
    EXPECT_TRUE(seen().empty() || seen().back() != "change");
}

QImage asset(std::string_view name) {
    const auto bytes = assets::find(name);
    QImage image;
    if (!bytes.empty())
        image.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage look(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST_F(InputTest, PictureButtonShowsTheImageOfItsState) {
    static const Binding table[] = {
        {M, "图形按钮1", Event::Clicked, [](const EventArgs&) { note("picture click"); }},
    };
    installBindings(table);
    openActive(M);
    auto* button = find<PictureButton>(M, "图形按钮1");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    const QImage normal = asset("pic_change_normal.png");
    const QImage hover = asset("pic_change_hover.png");
    const QImage pressed = asset("pic_change_pressed.png");
    const QImage disabled = asset("pic_change_disabled.png");
    if (normal.isNull() || hover.isNull() || pressed.isNull() || disabled.isNull()) {
        GTEST_SKIP() << "picture-button artwork not embedded";
    }
    EXPECT_EQ(button->look(), PictureButton::Look::Normal);
    EXPECT_EQ(look(button), normal);
    QTest::mouseMove(button, QPoint(40, 16));
    ASSERT_TRUE(waitUntil([button] { return button->look() == PictureButton::Look::Hover; },
                          std::chrono::seconds(2)));
    EXPECT_EQ(look(button), hover);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 16));
    EXPECT_EQ(button->look(), PictureButton::Look::Pressed);
    EXPECT_EQ(look(button), pressed);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 16));
    EXPECT_EQ(seen(), std::vector<std::string>{"picture click"});
    setControlDisabled(M, "图形按钮1", true);
    EXPECT_EQ(button->look(), PictureButton::Look::Disabled);
    EXPECT_EQ(look(button), disabled);

    // On denser screens, the copy drawn for that density pixel for pixel, never the plain
    // picture enlarged; the window's background likewise.
    auto* area = button->window()->findChild<ClientArea*>();
    ASSERT_NE(area, nullptr);
    for (const auto& [ratio, suffix] : {std::pair{2.0, "@2x"}, std::pair{1.5, "@1.5x"}}) {
        const auto at = [ratio](QWidget* widget) {
            QPixmap target(widget->size() * ratio);
            target.setDevicePixelRatio(ratio);
            target.fill(Qt::black);
            widget->render(&target, {}, {}, QWidget::RenderFlags());
            QImage image = target.toImage().convertToFormat(QImage::Format_RGB32);
            image.setDevicePixelRatio(1);
            return image;
        };
        EXPECT_EQ(at(button), asset(std::string("pic_change_disabled") + suffix + ".png"))
            << suffix;
        const QImage background = asset(std::string("main_background") + suffix + ".jpg");
        ASSERT_FALSE(background.isNull()) << suffix;
        // The window's client area is a little smaller than the picture: its last column and
        // row of device pixels may be partly covered at 150 %.
        const QImage shown = at(area);
        const QRect compared(0, 0, shown.width() - 1, shown.height() - 1);
        EXPECT_EQ(shown.copy(compared), background.copy(compared)) << suffix;
    }
}

TEST_F(InputTest, PressThenReleaseOutsideIsNoClick) {
    static const Binding table[] = {
        {M, "图形按钮3", Event::Clicked, [](const EventArgs&) { note("click"); }},
    };
    installBindings(table);
    openActive(M);
    auto* button = find<QAbstractButton>(M, "图形按钮3");
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(button, QPoint(200, 100));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 100));
    EXPECT_TRUE(seen().empty());
}

TEST_F(InputTest, MouseEventsCarryPositionAndKeyState) {
    static const Binding table[] = {
        {M, "透明标签4", Event::LeftButtonDown,
         [](const EventArgs& args) {
             lastArgs = args;
             note("down");
         }},
        {M, "透明标签4", Event::MouseMoved,
         [](const EventArgs& args) {
             lastArgs = args;
             note("moved");
         }},
    };
    installBindings(table);
    openActive(M);
    QWidget* label = find(M, "透明标签4");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
    QTest::mousePress(label, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, QPoint(5, 6));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier,
                        QPoint(5, 6));
    ASSERT_FALSE(seen().empty());
    EXPECT_EQ(seen().front(), "down");
    EXPECT_EQ(lastArgs.a, 5);
    EXPECT_EQ(lastArgs.b, 6);
    EXPECT_EQ(lastArgs.c, 3);
    seen().clear();
    QTest::mouseMove(label, QPoint(20, 8));
    ASSERT_TRUE(waitUntil([] { return !seen().empty(); }, std::chrono::seconds(2)));
    EXPECT_EQ(seen().back(), "moved");
    EXPECT_EQ(lastArgs.a, 20);
    EXPECT_EQ(lastArgs.b, 8);
    // The right button is not a left-button-down.
    seen().clear();
    QTest::mouseClick(label, Qt::RightButton, {}, QPoint(5, 6));
    for (const std::string& event : seen())
        EXPECT_NE(event, "down");
}

QWidget* balloonWidget() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QStringLiteral("balloonTip"))
            return top;
    }
    return nullptr;
}

TEST_F(InputTest, BalloonStaysOnMouseMovesAndGoesAtTheNextClickOrKey) {
    QWidget* settings = openActive(S);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(showBalloonTip(S, "气球提示框1", 300, 200, "第一行\r\n第二行"));
    EXPECT_TRUE(balloonShown());
    QWidget* balloon = balloonWidget();
    ASSERT_NE(balloon, nullptr);
    EXPECT_TRUE(balloon->geometry().contains(QPoint(300, 200)));
    QWidget* box = find(S, "bmp模式");
    QTest::mouseMove(box, QPoint(3, 3));
    QTest::mouseMove(box, QPoint(9, 5));
    QTest::qWait(50);
    EXPECT_TRUE(balloonShown());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(9, 5));
    EXPECT_FALSE(balloonShown());

    // A new showing replaces the old one; a key press hides it.
    ASSERT_TRUE(showBalloonTip(S, "气球提示框1", 300, 200, "one"));
    ASSERT_TRUE(showBalloonTip(S, "气球提示框1", 500, 400, "two"));
    EXPECT_TRUE(balloon->geometry().contains(QPoint(500, 400)));
    int shownBalloons = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QStringLiteral("balloonTip") && top->isVisible())
            ++shownBalloons;
    }
    EXPECT_EQ(shownBalloons, 1);
    QTest::keyClick(settings, Qt::Key_Shift);
    EXPECT_FALSE(balloonShown());
}

TEST_F(InputTest, BalloonNearTheScreenEdgeStillPointsAtItsPoint) {
    openWindow(S);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint corner = screen.bottomRight() - QPoint(2, 2);
    ASSERT_TRUE(showBalloonTip(S, "气球提示框1", corner.x(), corner.y(),
                               "一个相当长的提示文字，需要换行显示在气球之中。"));
    QWidget* balloon = balloonWidget();
    EXPECT_TRUE(balloon->geometry().contains(corner));
    EXPECT_TRUE(screen.contains(balloon->geometry()));
    QTest::mouseClick(find(S, "立即生效"), Qt::RightButton);
    EXPECT_FALSE(balloonShown());
}

TEST_F(InputTest, MenuBarItemsRaiseChosenWithTheirCaption) {
    static const Binding table[] = {
        {M, "设置", Event::Chosen, [](const EventArgs&) { note("settings chosen"); }},
    };
    installBindings(table);
    openWindow(M);
    auto* bar = topLevel(M)->findChild<QMenuBar*>(QStringLiteral("menuBar"));
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text(), QStringLiteral("菜单"));
    EXPECT_EQ(bar->actions()[1]->text(), QStringLiteral("关于"));
    QMenu* menu = bar->actions()[0]->menu();
    ASSERT_NE(menu, nullptr);
    QStringList captions;
    for (QAction* action : menu->actions())
        captions << action->text();
    EXPECT_EQ(captions, (QStringList{"显示主窗口", "打开截图文件夹", "设置", "退出"}));
    menu->actions()[2]->trigger();
    EXPECT_TRUE(seen().empty()) << "ran inside the menu's own handling";
    EXPECT_TRUE(waitUntil([] { return !seen().empty(); }, std::chrono::seconds(2)));
    EXPECT_EQ(seen(), std::vector<std::string>{"settings chosen"});
    // Items without a binding raise nothing anyone hears.
    menu->actions()[3]->trigger();
    QTest::qWait(50);
    EXPECT_EQ(seen().size(), 1u);
}

TEST_F(InputTest, PopupMenuOpensAtTheGivenPointOrBesideTheCursor) {
    static const Binding table[] = {
        {M, "帮助", Event::Chosen, [](const EventArgs&) { note("help"); }},
    };
    installBindings(table);
    openWindow(M);
    QPoint openedAt;
    QStringList captions;
    auto chooseLast = [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        openedAt = menu->pos();
        for (QAction* action : menu->actions())
            captions << action->text();
        QAction* last = menu->actions().back();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(last).center());
    };
    QTimer::singleShot(100, chooseLast);
    popupMenu(M, "关于", 120, 140);
    EXPECT_EQ(openedAt, QPoint(120, 140));
    EXPECT_EQ(captions, (QStringList{"作者信息", "帮助"}));
    EXPECT_EQ(seen(), std::vector<std::string>{"help"});

    QCursor::setPos(400, 300);
    const QPoint cursor = QCursor::pos();
    QTimer::singleShot(100, chooseLast);
    popupMenu(M, "关于", std::nullopt, 50);
    EXPECT_EQ(openedAt, QPoint(cursor.x() + 3, 50));

    // Dismissed without a choice: nothing is raised.
    seen().clear();
    QTimer::singleShot(100, [] {
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    popupMenu(M, "菜单");
    EXPECT_TRUE(seen().empty());
    popupMenu(M, "no such menu");  // returns at once
}

TEST_F(InputTest, TrayEventsReachTheWindowThatOwnsTheIcon) {
    static const Binding table[] = {
        {M, M, Event::Tray, [](const EventArgs& args) { note("tray " + std::to_string(args.a)); }},
    };
    installBindings(table);
    openWindow(M);
    const auto icon = assets::find("lumora.ico");
    if (icon.empty())
        GTEST_SKIP() << "icon artwork not embedded";
    platform::setTrayIcon(windowHandle(M), icon, "Lumora");
    auto* tray = qApp->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    emit tray->activated(QSystemTrayIcon::Trigger);
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(waitUntil([] { return seen().size() >= 3; }, std::chrono::seconds(2)));
    EXPECT_EQ(seen(), (std::vector<std::string>{"tray 1", "tray 2", "tray 3"}));
    // Once the window is gone its icon's events find no one.
    const WindowHandle owner = windowHandle(M);
    closeAll();
    seen().clear();
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QTest::qWait(50);
    EXPECT_TRUE(seen().empty());
    platform::setTrayIcon(owner);
}

}  // namespace
}  // namespace lumora::ui
