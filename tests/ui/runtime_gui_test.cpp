// The property interface and the behaviour every control of a kind has, on Qt's offscreen
// platform: initial states, the tab-page visibility rule, radio groups per page, edit-box input
// modes, timer intervals, and the life of a window from opening to destruction.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "tests/ui/window_test_helpers.h"
#include "ui/qt/widgets.h"

namespace lumora::ui {
namespace {

using namespace testing;
using test::waitUntil;

constexpr std::string_view S = kSettingsWindow;
constexpr std::string_view M = kMainWindow;
constexpr std::string_view kTabs = "选择夹1";

bool shown(std::string_view window, std::string_view control) {
    QWidget* widget = find(window, control);
    return widget != nullptr && widget->isVisible();
}

using RuntimeTest = WindowTest;

TEST_F(RuntimeTest, OpensFromTheDefinitionEveryTime) {
    const WindowHandle handle = openWindow(S);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(windowHandle(S), handle);
    EXPECT_TRUE(controlSelected(S, "bmp模式"));
    EXPECT_FALSE(controlSelected(S, "jpg模式"));
    EXPECT_TRUE(controlSelected(S, "选择框3"));
    EXPECT_TRUE(controlDisabled(S, "选择框3"));
    EXPECT_FALSE(find(S, "选择框3")->isEnabled());
    EXPECT_FALSE(controlVisible(S, "音效1"));
    EXPECT_TRUE(controlVisible(S, "选择框_开启音效"));
    EXPECT_EQ(controlText(S, "立即生效"), "立即生效！");
    EXPECT_EQ(controlText(S, "单选框_Lumora广告"), "前缀“Lumora截图贴士”");
    EXPECT_EQ(currentPage(S, kTabs), 0);
    EXPECT_EQ(find<QWidget>(S, "编辑框_自定义名")->geometry(), QRect(32, 160, 312, 32));

    // Opening an open window brings the same one forward.
    EXPECT_EQ(openWindow(S), handle);

    // Changes do not survive a close.
    setControlSelected(S, "jpg模式", true);
    setControlText(S, "编辑框_定时", "12：00：00");
    setCurrentPage(S, kTabs, 4);
    closeAll();
    EXPECT_EQ(windowHandle(S), 0u);
    openWindow(S);
    EXPECT_FALSE(controlSelected(S, "jpg模式"));
    EXPECT_EQ(controlText(S, "编辑框_定时"), "");
    EXPECT_EQ(currentPage(S, kTabs), 0);
}

TEST_F(RuntimeTest, UnknownWindowsAndControlsReadAsZeroAndIgnoreWrites) {
    EXPECT_EQ(openWindow("NoSuchWindow"), 0u);
    EXPECT_FALSE(isWindowOpen("NoSuchWindow"));
    openWindow(S);
    setControlText(S, "nothing", "x");
    setControlVisible(S, "nothing", true);
    setTimerInterval(S, "nothing", 5);
    setCurrentPage(S, kTabs, 7);  // past the last page
    setCurrentPage(S, kTabs, -1);
    EXPECT_EQ(currentPage(S, kTabs), 0);
    EXPECT_EQ(controlText(S, "nothing"), "");
    EXPECT_FALSE(controlVisible(S, "nothing"));
    EXPECT_EQ(timerInterval(S, "nothing"), 0);
    EXPECT_EQ(textColour(S, "立即生效"), 0u);
    EXPECT_FALSE(controlSelected(M, "bmp模式"));  // window not open
    EXPECT_EQ(windowLeft(M), 0);
    EXPECT_FALSE(showBalloonTip(S, "立即生效", 10, 10, "not a balloon"));
}

TEST_F(RuntimeTest, CaptionsKeepAmpersandsAsWritten) {
    openWindow(S);
    setControlText(S, "选择框_开启音效", "A&B");
    EXPECT_EQ(controlText(S, "选择框_开启音效"), "A&B");
    EXPECT_EQ(find<QAbstractButton>(S, "选择框_开启音效")->text(), QStringLiteral("A&&B"));
    setControlText(S, "透明标签1", "/home/a&b/");
    EXPECT_EQ(controlText(S, "透明标签1"), "/home/a&b/");
}

TEST_F(RuntimeTest, PageControlsFollowTheCurrentPage) {
    openWindow(S);
    // A control shown while its page is not current comes up with its page ...
    setControlVisible(S, "音效1", true);
    EXPECT_TRUE(controlVisible(S, "音效1"));
    EXPECT_FALSE(shown(S, "音效1"));
    setCurrentPage(S, kTabs, 1);
    EXPECT_TRUE(shown(S, "音效1"));
    // ... and a hidden one stays hidden.
    EXPECT_FALSE(shown(S, "音效2"));
    EXPECT_TRUE(shown(S, "选择框_开启音效"));
    EXPECT_FALSE(shown(S, "bmp模式"));
    // Hiding is at once, also on the current page.
    setControlVisible(S, "音效1", false);
    EXPECT_FALSE(shown(S, "音效1"));
    setControlVisible(S, "音效2", true);
    EXPECT_TRUE(shown(S, "音效2"));
    // Controls on no page are not affected by pages.
    setControlVisible(S, "立即生效", false);
    EXPECT_FALSE(shown(S, "立即生效"));
    setControlVisible(S, "立即生效", true);
    EXPECT_TRUE(shown(S, "立即生效"));

    // A page chosen by the user follows the same rule.
    auto* tabs = find<QTabWidget>(S, kTabs);
    ASSERT_NE(tabs, nullptr);
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
    EXPECT_EQ(currentPage(S, kTabs), 3);
    EXPECT_FALSE(shown(S, "音效2"));
    EXPECT_TRUE(controlVisible(S, "音效2"));
    EXPECT_TRUE(shown(S, "原尺寸"));
    EXPECT_FALSE(shown(S, "透明标签1"));
}

TEST_F(RuntimeTest, RadioGroupsArePerPageAndCodeWritesTouchOneButton) {
    static const Binding table[] = {
        {S, "自定义尺寸", Event::Clicked,
         [](const EventArgs&) {
             // Raised after the selection has changed.
             seen().push_back(controlSelected(S, "自定义尺寸") && !controlSelected(S, "原尺寸")
                                  ? "selected"
                                  : "not yet");
         }},
    };
    installBindings(table);
    openWindow(S);
    setControlSelected(S, "音效2", true);
    setControlSelected(S, "单选框_取现行时间", true);
    setControlSelected(S, "原尺寸", true);
    setCurrentPage(S, kTabs, 3);
    auto* custom = find<QAbstractButton>(S, "自定义尺寸");
    QTest::mouseClick(custom, Qt::LeftButton, {}, QPoint(6, custom->height() / 2));
    EXPECT_TRUE(controlSelected(S, "自定义尺寸"));
    EXPECT_FALSE(controlSelected(S, "原尺寸"));
    EXPECT_EQ(seen(), std::vector<std::string>{"selected"});
    // Other pages untouched.
    EXPECT_TRUE(controlSelected(S, "bmp模式"));
    EXPECT_TRUE(controlSelected(S, "音效2"));
    EXPECT_TRUE(controlSelected(S, "单选框_取现行时间"));
    // A second click keeps it selected and is still a click.
    QTest::mouseClick(custom, Qt::LeftButton, {}, QPoint(6, custom->height() / 2));
    EXPECT_TRUE(controlSelected(S, "自定义尺寸"));
    EXPECT_EQ(seen().size(), 2u);
    // Writes from code change only the button written, and raise nothing.
    setControlSelected(S, "原尺寸", true);
    EXPECT_TRUE(controlSelected(S, "原尺寸"));
    EXPECT_TRUE(controlSelected(S, "自定义尺寸"));
    setControlSelected(S, "jpg模式", true);
    EXPECT_TRUE(controlSelected(S, "bmp模式"));
    EXPECT_EQ(seen().size(), 2u);
}

TEST_F(RuntimeTest, CheckboxClickRaisedAfterToggling) {
    static const Binding table[] = {
        {S, "显示logo", Event::Clicked,
         [](const EventArgs&) { seen().push_back(controlSelected(S, "显示logo") ? "on" : "off"); }},
    };
    installBindings(table);
    openWindow(S);
    setCurrentPage(S, kTabs, 2);
    auto* box = find<QAbstractButton>(S, "显示logo");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(seen(), (std::vector<std::string>{"on", "off"}));
    // Disabled controls take no clicks.
    setControlDisabled(S, "显示logo", true);
    EXPECT_TRUE(controlDisabled(S, "显示logo"));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(seen().size(), 2u);
}

TEST_F(RuntimeTest, IntegerTextBoxesTakeOnlyDigitsAndMinusUpToTheirLimit) {
    openActive(S);
    setCurrentPage(S, kTabs, 5);
    setControlVisible(S, "编辑框_间时", true);
    auto* box = find<QLineEdit>(S, "编辑框_间时");
    ASSERT_NE(box, nullptr);
    box->setFocus();
    QTest::keyClicks(box, "12ab");
    EXPECT_EQ(controlText(S, "编辑框_间时"), "12");
    box->clear();
    QTest::keyClicks(box, "-5");
    EXPECT_EQ(controlText(S, "编辑框_间时"), "-5");
    box->clear();
    QTest::keyClicks(box, "99999");
    EXPECT_EQ(controlText(S, "编辑框_间时"), "9999");
    // Integer text keeps a 0 when the focus leaves.
    box->clear();
    QTest::keyClicks(box, "0");
    find<QWidget>(S, "选择框_间断截图")->setFocus();
    EXPECT_EQ(controlText(S, "编辑框_间时"), "0");
    // The logic may write what it likes.
    setControlText(S, "编辑框_间时", "30 秒");
    EXPECT_EQ(controlText(S, "编辑框_间时"), "30 秒");
}

TEST_F(RuntimeTest, TextFromTheLogicIsKeptWholePastTheTypingLimit) {
    openActive(S);
    setCurrentPage(S, kTabs, 4);
    setControlVisible(S, "编辑框_自定义名", true);
    // A stored prefix longer than a person may type must survive opening and applying.
    const std::string longName = "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十多";
    setControlText(S, "编辑框_自定义名", longName);
    EXPECT_EQ(controlText(S, "编辑框_自定义名"), longName);
    auto* name = find<QLineEdit>(S, "编辑框_自定义名");
    ASSERT_NE(name, nullptr);
    name->setFocus();
    name->end(false);
    QTest::keyClicks(name, "x");
    EXPECT_EQ(controlText(S, "编辑框_自定义名"), longName) << "typing past the limit";
    // Deleting shortens it; typing then stops at the box's own limit again.
    QTest::keyClick(name, Qt::Key_Backspace);
    QTest::keyClick(name, Qt::Key_Backspace);
    QTest::keyClicks(name, "xy");
    EXPECT_EQ(QString::fromStdString(controlText(S, "编辑框_自定义名")).size(), 30);
    // An integer box keeps a long number from the logic until the user edits it.
    setCurrentPage(S, kTabs, 5);
    setControlVisible(S, "编辑框_间时", true);
    setControlText(S, "编辑框_间时", "123456");
    EXPECT_EQ(controlText(S, "编辑框_间时"), "123456");
    auto* seconds = find<QLineEdit>(S, "编辑框_间时");
    seconds->setFocus();
    seconds->setCursorPosition(2);
    QTest::keyClick(seconds, Qt::Key_Delete);
    EXPECT_EQ(controlText(S, "编辑框_间时"), "12456");
    EXPECT_EQ(seconds->cursorPosition(), 2);
}

TEST_F(RuntimeTest, IntegerBoxesNormaliseWhenTheFocusLeaves) {
    QWidget* top = openActive(S);
    ASSERT_NE(top, nullptr);
    setCurrentPage(S, kTabs, 3);
    setControlSelected(S, "自定义尺寸", true);
    setControlVisible(S, "编辑框_自定义长", true);
    setControlVisible(S, "编辑框_自定义宽", true);
    auto* width = find<QLineEdit>(S, "编辑框_自定义长");
    auto* height = find<QLineEdit>(S, "编辑框_自定义宽");
    width->setFocus();
    QTest::keyClicks(width, "0");
    height->setFocus();
    EXPECT_EQ(controlText(S, "编辑框_自定义长"), "");
    QTest::keyClicks(height, "007");
    width->setFocus();
    EXPECT_EQ(controlText(S, "编辑框_自定义宽"), "7");
    // Text from code is normalised only when the box loses the focus.
    setControlText(S, "编辑框_自定义长", "-0");
    EXPECT_EQ(controlText(S, "编辑框_自定义长"), "-0");
    height->setFocus();
    EXPECT_EQ(controlText(S, "编辑框_自定义长"), "");
}

TEST(IntegerNormalisation, ReadsSignAndDigitsClampedToThirtyTwoBits) {
    EXPECT_EQ(normaliseIntegerText("99999999999"), "2147483647");
    EXPECT_EQ(normaliseIntegerText("-99999999999"), "-2147483648");
    EXPECT_EQ(normaliseIntegerText("2147483648"), "2147483647");
    EXPECT_EQ(normaliseIntegerText("-2147483648"), "-2147483648");
    EXPECT_EQ(normaliseIntegerText("123456789012345678901234567890"), "2147483647");
    EXPECT_EQ(normaliseIntegerText("-123456789012345678901234567890"), "-2147483648");
    EXPECT_EQ(normaliseIntegerText("12-3"), "12");
    EXPECT_EQ(normaliseIntegerText("+15"), "15");
    EXPECT_EQ(normaliseIntegerText("0042"), "42");
    EXPECT_EQ(normaliseIntegerText("0"), "");
    EXPECT_EQ(normaliseIntegerText("-"), "");
    EXPECT_EQ(normaliseIntegerText("--5"), "");
    EXPECT_EQ(normaliseIntegerText(""), "");
    EXPECT_EQ(normaliseIntegerText("-1"), "-1");
}

// Tick times of 时钟2, measured from the moment a test starts its clock.
QElapsedTimer tickClock;
std::vector<qint64> ticks;

TEST_F(RuntimeTest, TimerIntervalRules) {
    static const Binding table[] = {
        {M, "时钟2", Event::Tick, [](const EventArgs&) { ticks.push_back(tickClock.elapsed()); }},
    };
    installBindings(table);
    openWindow(M);
    EXPECT_EQ(timerInterval(M, "时钟1"), 300);
    EXPECT_EQ(timerInterval(M, "时钟2"), 0);

    // Writing the value it has keeps the phase: the tick still comes at the first due time.
    ticks.clear();
    setTimerInterval(M, "时钟2", 1000);
    tickClock.start();
    QTest::qWait(400);
    setTimerInterval(M, "时钟2", 1000);
    const qint64 rewrittenAt = tickClock.elapsed();
    ASSERT_TRUE(waitUntil([] { return !ticks.empty(); }, std::chrono::seconds(5)));
    EXPECT_LT(ticks.front() - rewrittenAt, 950) << "the rewrite restarted the count";

    // A new value restarts the count: the first tick is one full new interval later.
    ticks.clear();
    QTest::qWait(400);
    setTimerInterval(M, "时钟2", 700);
    tickClock.start();
    ASSERT_TRUE(waitUntil([] { return !ticks.empty(); }, std::chrono::seconds(5)));
    EXPECT_GE(ticks.front(), 690);
    EXPECT_EQ(timerInterval(M, "时钟2"), 700);

    // Negative counts as 0, and 0 stops.
    setTimerInterval(M, "时钟2", -5);
    EXPECT_EQ(timerInterval(M, "时钟2"), 0);
    ticks.clear();
    QTest::qWait(900);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(RuntimeTest, CloseIsCarriedOutAfterTheHandlerAndRaisesDestroyingOnce) {
    static const Binding table[] = {
        {S, "立即生效", Event::Clicked,
         [](const EventArgs&) {
             closeWindow(S);
             closeWindow(S);
             seen().push_back(isWindowOpen(S) ? "still open in handler" : "gone in handler");
         }},
        {S, S, Event::Destroying, [](const EventArgs&) { seen().push_back("destroying"); }},
        {S, S, Event::Created,
         [](const EventArgs&) {
             seen().push_back(find(S, "立即生效") != nullptr ? "created with controls"
                                                             : "created early");
         }},
    };
    installBindings(table);
    openWindow(S);
    find<QAbstractButton>(S, "立即生效")->click();
    EXPECT_TRUE(waitUntil([] { return !isWindowOpen(S); }));
    QTest::qWait(50);
    EXPECT_EQ(seen(), (std::vector<std::string>{"created with controls", "still open in handler",
                                                "destroying"}));
}

TEST_F(RuntimeTest, ModalOpeningReturnsWhenClosedWhileOtherTimersRun) {
    static const Binding table[] = {
        {M, "时钟2", Event::Tick, [](const EventArgs&) { ticks.push_back(0); }},
        {S, S, Event::Created,
         [](const EventArgs&) { QTimer::singleShot(400, [] { closeWindow(S); }); }},
    };
    installBindings(table);
    openWindow(M);
    setTimerInterval(M, "时钟2", 50);
    ticks.clear();
    openWindowModal(S);
    EXPECT_FALSE(isWindowOpen(S));
    EXPECT_GE(ticks.size(), 2u);
    EXPECT_TRUE(isWindowOpen(M));
}

TEST_F(RuntimeTest, DestroyingTheLastWindowWithoutAMainLoopLeavesLaterLoopsWorking) {
    quitWhenLastWindowDestroyed(true);
    openWindow(S);
    EXPECT_TRUE(anyWindowOpen());
    closeAll();
    EXPECT_FALSE(anyWindowOpen());
    // A later wait that runs a loop of its own must still wait.
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_GE(clock.elapsed(), 150);
}

TEST_F(RuntimeTest, WindowVisibilityAndColours) {
    openWindow(M);
    EXPECT_TRUE(windowVisible(M));
    setWindowVisible(M, false);
    EXPECT_FALSE(windowVisible(M));
    EXPECT_TRUE(isWindowOpen(M));
    setWindowVisible(M, true);
    EXPECT_TRUE(windowVisible(M));
    const QList<QSize> iconSizes = topLevel(M)->windowIcon().availableSizes();
    if (!iconSizes.isEmpty()) {  // the icon artwork is embedded
        EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));
        EXPECT_TRUE(iconSizes.contains(QSize(128, 128)));
    }
    EXPECT_EQ(textColour(M, "透明标签5"), 0x00FF0090u);
    setTextColour(M, "透明标签5", 0x00C06000);
    EXPECT_EQ(textColour(M, "透明标签5"), 0x00C06000u);
    EXPECT_EQ(controlText(M, "透明标签1"), "透明标签");
    setWindowAlwaysOnTop(M, true);
    EXPECT_TRUE(topLevel(M)->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(windowVisible(M));
}

}  // namespace
}  // namespace lumora::ui
