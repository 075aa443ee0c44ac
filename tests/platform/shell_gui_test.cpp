// Message boxes, the folder chooser, the responsive pause, window opacity and the control
// scheme, driven as a user would through the dialogs Qt shows (offscreen platform).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

// Runs `act` on the modal widget named `name` as soon as it is the active modal widget.
void whenModal(const char* name, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, name, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != QLatin1String(name))
            return;
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start();
}

void clickInBox(QMessageBox::StandardButton which) {
    whenModal(testing::kMessageBoxName, [which](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        ASSERT_NE(box->button(which), nullptr);
        box->button(which)->click();
    });
}

TEST(ShowMessage, PlainBoxHasTheDefaultCaptionAndReturnsZero) {
    QString title, text;
    int buttonCount = 0;
    Qt::WindowModality modality = Qt::NonModal;
    whenModal(testing::kMessageBoxName, [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        title = box->windowTitle();
        text = box->text();
        buttonCount = static_cast<int>(box->buttons().size());
        modality = box->windowModality();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(showMessage("<b>我已经运行了(*^__^*) </b>"), 0);
    EXPECT_EQ(title, QStringLiteral("信息："));
    EXPECT_EQ(text, QStringLiteral("<b>我已经运行了(*^__^*) </b>"));
    EXPECT_EQ(buttonCount, 1);
    EXPECT_EQ(modality, Qt::ApplicationModal);
}

TEST(ShowMessage, GivenCaptionIsUsedAndEscapeClosesAnOkBoxWithZero) {
    QString title;
    whenModal(testing::kMessageBoxName, [&](QWidget* w) {
        title = w->windowTitle();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    });
    EXPECT_EQ(showMessage("text", 0x40, "您好！"), 0);
    EXPECT_EQ(title, QStringLiteral("您好！"));
}

struct ButtonCase {
    int style;
    QMessageBox::StandardButton button;
    int expected;
};

TEST(ShowMessage, EachButtonOfEachStyleMapsToItsResultCode) {
    using SB = QMessageBox::StandardButton;
    const ButtonCase cases[] = {
        {0, SB::Ok, 0},     {1, SB::Ok, 0},     {1, SB::Cancel, 1},    {2, SB::Abort, 2},
        {2, SB::Retry, 3},  {2, SB::Ignore, 4}, {3, SB::Yes, 5},       {3, SB::No, 6},
        {3, SB::Cancel, 1}, {4, SB::Yes, 5},    {4, SB::No, 6},        {5, SB::Retry, 3},
        {5, SB::Cancel, 1}, {0x34, SB::No, 6},  {0x21, SB::Cancel, 1},
    };
    for (const ButtonCase& c : cases) {
        clickInBox(c.button);
        EXPECT_EQ(showMessage("?", c.style), c.expected) << "style " << c.style;
    }
}

TEST(ShowMessage, IconBitsChooseTheIcon) {
    const std::pair<int, QMessageBox::Icon> cases[] = {{0x10, QMessageBox::Critical},
                                                       {0x20, QMessageBox::Question},
                                                       {0x30, QMessageBox::Warning},
                                                       {0x40, QMessageBox::Information},
                                                       {0x00, QMessageBox::NoIcon}};
    for (auto [style, icon] : cases) {
        QMessageBox::Icon seen = QMessageBox::NoIcon;
        whenModal(testing::kMessageBoxName, [&seen](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seen = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        showMessage("icon", style);
        EXPECT_EQ(seen, icon) << "style " << style;
    }
}

// A top-level window of the program, shown, as the main window would be.
struct OtherWindows {
    QWidget enabledOne;
    QWidget disabledOne;
    OtherWindows() {
        disabledOne.setEnabled(false);
        enabledOne.show();
        disabledOne.show();
    }
};

TEST(BrowseForFolder, CancelGivesEmptyTextAndOtherWindowsAreDisabledMeanwhile) {
    OtherWindows windows;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);

    bool enabledDuring = true;
    bool disabledDuring = true;
    QString title;
    int ticksAtOpen = -1;
    whenModal(testing::kFolderDialogName, [&](QWidget* w) {
        enabledDuring = windows.enabledOne.isEnabled();
        disabledDuring = windows.disabledOne.isEnabled();
        title = w->windowTitle();
        ticksAtOpen = ticks;
        // Let the program's timers run while the chooser is open, then cancel.
        QTimer::singleShot(60, w, [w] { qobject_cast<QFileDialog*>(w)->reject(); });
    });
    const QString before = QDir::currentPath();
    EXPECT_EQ(browseForFolder("选择截图保存的文件夹"), "");
    EXPECT_EQ(title, QStringLiteral("选择截图保存的文件夹"));
    EXPECT_FALSE(enabledDuring);
    EXPECT_FALSE(disabledDuring);
    EXPECT_TRUE(windows.enabledOne.isEnabled()) << "re-enabled after";
    EXPECT_FALSE(windows.disabledOne.isEnabled()) << "a disabled window stays disabled";
    EXPECT_GT(ticks, ticksAtOpen) << "timers keep firing while the chooser is open";
    EXPECT_EQ(QDir::currentPath(), before);
}

std::string chooseIn(const QString& directory, const QString& typed = {}) {
    whenModal(testing::kFolderDialogName, [directory, typed](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        dialog->setDirectory(directory);
        if (!typed.isEmpty())
            dialog->selectFile(typed);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides its override
    });
    return browseForFolder("choose");
}

TEST(BrowseForFolder, TheRootKeepsItsSlashOtherFoldersHaveNone) {
    EXPECT_EQ(chooseIn("/"), "/");
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "截图");
    const std::string sub = (dir.path() / "截图").string();
    EXPECT_EQ(chooseIn(QString::fromStdString(sub)), sub);
    EXPECT_EQ(chooseIn(QString::fromStdString(dir.path().string()), QStringLiteral("截图")), sub);
}

TEST(DelayWithEvents, TimersFireDuringThePauseAndItLastsAtLeastTheTime) {
    bool fired = false;
    QTimer::singleShot(5, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    delayWithEvents(60);
    EXPECT_TRUE(fired);
    EXPECT_GE(clock.elapsed(), 60);
}

TEST(DelayWithEvents, ZeroOrLessReturnsWithoutProcessingEvents) {
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { ran = true; }, Qt::QueuedConnection);
    delayWithEvents(0);
    delayWithEvents(-5);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST(DelayWithEvents, NestedPausesInsideATimerHandlerBothComplete) {
    bool innerDone = false;
    QTimer::singleShot(5, [&] {
        delayWithEvents(40);
        innerDone = true;
    });
    delayWithEvents(20);
    // The outer pause cannot return while the handler's own pause runs inside it.
    EXPECT_TRUE(innerDone);
}

TEST(SetWindowAlpha, AppliesTheLevelToTheWindowAndTreatsOutOfRangeAsOpaque) {
    QWidget window;
    auto* child = new QPushButton("x", &window);
    window.show();
    const auto handle = static_cast<WindowHandle>(window.winId());

    EXPECT_TRUE(setWindowAlpha(handle, 0));
    EXPECT_NEAR(window.windowOpacity(), 0.0, 0.01);
    EXPECT_TRUE(setWindowAlpha(handle, 128));
    EXPECT_NEAR(window.windowOpacity(), 128 / 255.0, 0.01);
    EXPECT_TRUE(setWindowAlpha(handle, 258));
    EXPECT_NEAR(window.windowOpacity(), 1.0, 0.001);
    setWindowAlpha(handle, 3);
    EXPECT_TRUE(setWindowAlpha(handle, -1));
    EXPECT_NEAR(window.windowOpacity(), 1.0, 0.001);
    setWindowAlpha(handle, 3);
    EXPECT_TRUE(setWindowAlpha(handle));
    EXPECT_NEAR(window.windowOpacity(), 1.0, 0.001);

    // A native child's handle fades the window it belongs to.
    const auto childHandle = static_cast<WindowHandle>(child->winId());
    EXPECT_TRUE(setWindowAlpha(childHandle, 51));
    EXPECT_NEAR(window.windowOpacity(), 0.2, 0.01);
}

TEST(SetWindowAlpha, UnknownHandleIsRefused) {
    EXPECT_FALSE(setWindowAlpha(0, 100));
    EXPECT_FALSE(setWindowAlpha(0x7fffff01, 100));
}

// Whether any pixel of the widget's rendering is within a small distance of `rgb`.
bool showsColour(QWidget& w, QRgb rgb) {
    const QImage image = w.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(rgb)) <= 6 && std::abs(qGreen(p) - qGreen(rgb)) <= 6 &&
                std::abs(qBlue(p) - qBlue(rgb)) <= 6) {
                return true;
            }
        }
    }
    return false;
}

TEST(ApplyControlScheme, FramesTakeTheSchemeColourOnPresentAndFutureControlsUntilSwitchedOff) {
    QWidget present;
    auto* layout = new QVBoxLayout(&present);
    auto* button = new QPushButton("按钮", &present);
    layout->addWidget(button);
    present.resize(120, 60);
    present.show();
    const QRgb blue = qRgb(123, 158, 189);
    const QRgb silver = qRgb(198, 197, 215);
    ASSERT_FALSE(showsColour(*button, blue));

    EXPECT_TRUE(applyControlScheme(1));
    EXPECT_EQ(testing::controlSchemeFrameColour(), 0x7B9EBDu);
    EXPECT_TRUE(showsColour(*button, blue));

    EXPECT_TRUE(applyControlScheme(3));
    EXPECT_EQ(testing::controlSchemeFrameColour(), 0xC6C5D7u);
    QCheckBox future("选择框");
    QLineEdit edit("编辑框");
    future.show();
    edit.show();
    EXPECT_TRUE(showsColour(future, silver));
    EXPECT_TRUE(showsColour(edit, silver));

    EXPECT_TRUE(applyControlScheme(2));
    EXPECT_EQ(testing::controlSchemeFrameColour(), 0xA4B97Fu);

    EXPECT_TRUE(applyControlScheme(0));
    EXPECT_EQ(testing::controlSchemeFrameColour(), std::nullopt);
    EXPECT_FALSE(showsColour(*button, blue));
    EXPECT_FALSE(showsColour(future, silver));
    EXPECT_TRUE(applyControlScheme(7));
    EXPECT_EQ(testing::controlSchemeFrameColour(), std::nullopt);
}

}  // namespace
}  // namespace lumora::platform
