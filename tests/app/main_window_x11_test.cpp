// The main window and its tray icon as a person uses them, on the real runtime and the
// program's own binding table: the capture folder chooser and opener, hiding to the tray and
// coming back, the tray's menu, the information boxes and the two links. Pages and folders the
// program hands to the desktop are caught by URL handlers instead of opening a browser.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "app/bindings.h"
#include "app/main_window.h"
#include "assets/assets.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/shell_testing.h"
#include "tests/support/program_bindings.h"
#include "tests/support/test_support.h"
#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/windows.h"

// Collects the addresses the program asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

namespace lumora::app {
namespace {

using test::waitUntil;

constexpr std::string_view M = ui::kMainWindow;
constexpr std::string_view S = ui::kSettingsWindow;
constexpr std::string_view kFolderLabel = "透明标签1";

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* topLevel(std::string_view window) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == q(window) && !top->isHidden())
            return top;
    }
    return nullptr;
}

QWidget* mainControl(std::string_view name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == q(M))
            return top->findChild<QWidget*>(q(name));
    }
    return nullptr;
}

struct SeenBox {
    std::string title;
    std::string text;
    QMessageBox::Icon icon;
    std::size_t urlsBefore;  // addresses opened when the box showed
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        ui::quitWhenLastWindowDestroyed(false);
        bindings_ = test::programBindingsForTests();
        ui::installBindings(bindings_);
        QDesktopServices::setUrlHandler("https", &opened_, "open");
        QDesktopServices::setUrlHandler("file", &opened_, "open");
        ui::openWindow(M);
        ASSERT_TRUE(waitUntil([] { return topLevel(M) != nullptr; }));
        ui::setControlText(M, kFolderLabel, folder_.folder());

        // Modal boxes and dialogs are answered as soon as they show, by the current answer.
        QObject::connect(&watcher_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible())
                return;
            if (auto* box = qobject_cast<QMessageBox*>(modal);
                box && box->objectName() == platform::testing::kMessageBoxName) {
                boxes_.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                                  box->icon(), opened_.urls.size()});
                box->button(QMessageBox::Ok)->click();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal);
                       dialog && dialog->objectName() == platform::testing::kFolderDialogName &&
                       folderAnswer_) {
                dialogTitles_.push_back(dialog->windowTitle().toStdString());
                auto answer = std::move(folderAnswer_);
                folderAnswer_ = nullptr;
                answer(dialog);
            }
        });
        watcher_.start(20);
    }

    void TearDown() override {
        watcher_.stop();
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("file");
        platform::setTrayIcon(ui::windowHandle(M));
        ui::closeWindow(S);
        ui::closeWindow(M);
        waitUntil([] { return !ui::isWindowOpen(S) && !ui::isWindowOpen(M); });
        ui::installBindings({});
    }

    std::string folder() { return ui::controlText(M, kFolderLabel); }

    void clickControl(std::string_view name) {
        auto* button = qobject_cast<QAbstractButton*>(mainControl(name));
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Runs the folder chooser through `button`, answering it with `answer`.
    void chooseFolder(std::string_view button, std::function<void(QFileDialog*)> answer) {
        folderAnswer_ = std::move(answer);
        const std::size_t before = dialogTitles_.size();
        clickControl(button);  // returns once the dialog has been answered
        ASSERT_EQ(dialogTitles_.size(), before + 1) << "no folder dialog";
        EXPECT_EQ(dialogTitles_.back(), kFolderDialogTitle);
    }

    // The tray icon the start-up would have made, and a person's action on it.
    QSystemTrayIcon* trayIcon() {
        if (!platform::hasTrayIcon(ui::windowHandle(M))) {
            platform::setTrayIcon(ui::windowHandle(M), assets::find("lumora.ico"), "Lumora技术");
        }
        // An icon of an earlier window may still be waiting for its deletion.
        for (auto* icon : qApp->findChildren<QSystemTrayIcon*>(platform::testing::kTrayIconName)) {
            if (icon->isVisible())
                return icon;
        }
        return nullptr;
    }
    void actOnTray(QSystemTrayIcon::ActivationReason reason) {
        QSystemTrayIcon* icon = trayIcon();
        ASSERT_NE(icon, nullptr);
        emit icon->activated(reason);
    }

    // Right click on the tray icon, then `inMenu` with the popped-up menu.
    void trayMenu(std::function<void(QMenu*)> inMenu) {
        bool seen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || seen)
                return;
            seen = true;
            inMenu(menu);
        });
        poll.start(20);
        actOnTray(QSystemTrayIcon::Context);
        EXPECT_TRUE(waitUntil([&] { return seen && QApplication::activePopupWidget() == nullptr; }))
            << "no tray menu";
    }

    static void chooseByKeyboard(QMenu* menu, std::string_view caption) {
        for (QAction* action : menu->actions()) {
            if (action->objectName() == q(caption)) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        ADD_FAILURE() << "no item " << caption;
        menu->close();
    }

    test::ScopedConfigHome config_;
    test::TempDir folder_;
    std::vector<ui::Binding> bindings_;
    OpenedUrls opened_;
    QTimer watcher_;
    std::vector<SeenBox> boxes_;
    std::vector<std::string> dialogTitles_;
    std::function<void(QFileDialog*)> folderAnswer_;
};

TEST_F(MainWindowTest, ChosenFolderEndsWithOneSeparatorAndCancelGoesBackToTheDefault) {
    test::TempDir chosen;
    chooseFolder("按钮3", [&](QFileDialog* d) {
        d->setDirectory(QString::fromStdString(chosen.path().string()));
        static_cast<QDialog*>(d)->accept();  // the dialog's own OK
    });
    EXPECT_EQ(folder(), chosen.folder());

    chooseFolder("图形按钮1", [](QFileDialog* d) {
        d->setDirectory(QStringLiteral("/"));
        static_cast<QDialog*>(d)->accept();  // the dialog's own OK
    });
    EXPECT_EQ(folder(), "/");

    chooseFolder("图形按钮1", [](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(folder(), platform::defaultCaptureFolder());
    EXPECT_EQ(folder().back(), '/');
}

TEST_F(MainWindowTest, ChosenFolderPathsBecomeCaptureFolders) {
    EXPECT_EQ(captureFolderFor("/home/me/shots"), "/home/me/shots/");
    EXPECT_EQ(captureFolderFor("/"), "/");
    EXPECT_EQ(captureFolderFor("/home/me/shots/"), "/home/me/shots/");
    EXPECT_EQ(captureFolderFor("/home/我的 图片"), "/home/我的 图片/");
    EXPECT_EQ(captureFolderFor(""), platform::defaultCaptureFolder());
}

TEST_F(MainWindowTest, OpensTheFolderFromEitherButtonAndTheMenuBar) {
    clickControl("按钮1");
    clickControl("图形按钮3");
    auto* bar = topLevel(M)->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QAction* item = bar->findChild<QAction*>("打开截图文件夹");
    ASSERT_NE(item, nullptr);
    item->trigger();

    ASSERT_TRUE(waitUntil([this] { return opened_.urls.size() == 3; }));
    for (const QUrl& url : opened_.urls) {
        EXPECT_EQ(url, QUrl::fromLocalFile(QString::fromStdString(folder_.folder())));
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindowTest, EmptyFolderLabelShowsTheMessageAndOpensNothing) {
    ui::setControlText(M, kFolderLabel, "");
    clickControl("按钮1");
    ASSERT_TRUE(waitUntil([this] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_[0].title, "信息：");
    EXPECT_EQ(boxes_[0].text, kNoFolderMessage);
    QTest::qWait(100);
    EXPECT_TRUE(opened_.urls.empty());
}

TEST_F(MainWindowTest, HidesToTheTrayAndComesBackByAClickOrTheMenu) {
    // No tray icon yet: hidden, the window could not come back, so it is minimised instead.
    clickControl("图形按钮2");
    EXPECT_TRUE(waitUntil([] { return ui::windowMinimized(M); }));
    actOnTray(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(waitUntil([] { return !ui::windowMinimized(M) && ui::windowVisible(M); }));

    ASSERT_TRUE(waitUntil([] { return platform::trayHostPresent(); }));
    clickControl("图形按钮2");
    EXPECT_FALSE(ui::windowVisible(M));
    EXPECT_TRUE(ui::isWindowOpen(M));

    // A single click, the only one StatusNotifier hosts pass on, brings it back, and so does
    // a double click.
    actOnTray(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(waitUntil([] { return ui::windowVisible(M); }));
    clickControl("图形按钮2");
    EXPECT_FALSE(ui::windowVisible(M));
    actOnTray(QSystemTrayIcon::DoubleClick);
    ASSERT_TRUE(waitUntil([] { return ui::windowVisible(M); }));
    actOnTray(QSystemTrayIcon::DoubleClick);  // already shown: stays shown
    QTest::qWait(100);
    EXPECT_TRUE(ui::windowVisible(M));

    ui::setWindowVisible(M, true);
    QWidget* plain = mainControl("按钮2");
    ASSERT_NE(plain, nullptr);
    qobject_cast<QAbstractButton*>(plain)->click();  // as Tab and Space would
    EXPECT_FALSE(ui::windowVisible(M));

    // The menu pops up while the window is hidden and brings it back.
    std::vector<QString> items;
    trayMenu([&](QMenu* menu) {
        for (QAction* a : menu->actions())
            items.push_back(a->text());
        chooseByKeyboard(menu, "显示主窗口");
    });
    EXPECT_EQ(items, (std::vector<QString>{"显示主窗口", "打开截图文件夹", "设置", "退出"}));
    EXPECT_TRUE(waitUntil([] { return ui::windowVisible(M); }));
}

TEST_F(MainWindowTest, SettingsFromTheTrayMenuIsModalAndReturnsWhenClosed) {
    // Once the item is chosen the settings window runs its own loop; it is closed from there.
    bool wasOpen = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* settings = topLevel(S);
        if (settings == nullptr || !ui::isWindowOpen(S))
            return;
        wasOpen = true;
        closer.stop();
        QTest::keyClick(settings, Qt::Key_Escape);
    });
    closer.start(20);
    trayMenu([](QMenu* menu) { chooseByKeyboard(menu, "设置"); });
    EXPECT_TRUE(wasOpen);
    EXPECT_TRUE(waitUntil([] { return !ui::isWindowOpen(S); }));
}

TEST_F(MainWindowTest, AuthorBoxAndHelpBoxThenTheMakersPage) {
    auto* bar = topLevel(M)->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    bar->findChild<QAction*>("作者信息")->trigger();
    ASSERT_TRUE(waitUntil([this] { return boxes_.size() == 1; }));
    EXPECT_EQ(boxes_[0].title, kAuthorCaption);
    EXPECT_EQ(boxes_[0].icon, QMessageBox::Information);
    // The version the title and --version give.
    EXPECT_NE(boxes_[0].text.find(" " LUMORA_VERSION " "), std::string::npos);
    EXPECT_NE(ui::findWindowDef(M)->title.find("v" LUMORA_VERSION), std::string::npos);
    EXPECT_NE(boxes_[0].text.find("Velmora"), std::string::npos);
    EXPECT_NE(boxes_[0].text.find('@'), std::string::npos);
    EXPECT_EQ(boxes_[0].text.find('\n'), std::string::npos);  // one line

    bar->findChild<QAction*>("帮助")->trigger();
    ASSERT_TRUE(waitUntil([this] { return boxes_.size() == 2; }));
    EXPECT_EQ(boxes_[1].title, kHelpCaption);
    EXPECT_EQ(boxes_[1].text, "您好，有什么意见和建议请到空间中留言，谢谢");
    EXPECT_EQ(boxes_[1].urlsBefore, 0u);  // the page opens only after the box
    ASSERT_TRUE(waitUntil([this] { return opened_.urls.size() == 1; }));
    EXPECT_EQ(opened_.urls[0], QUrl(q(kMakerPage)));
}

TEST_F(MainWindowTest, LinkLabelsOpenTheirPagesOnTheLeftButtonOnly) {
    QWidget* maker = mainControl("透明标签4");
    QWidget* advert = mainControl("透明标签5");
    ASSERT_NE(maker, nullptr);
    ASSERT_NE(advert, nullptr);
    QTest::mousePress(advert, Qt::RightButton);
    QTest::mouseRelease(advert, Qt::RightButton);
    QTest::mousePress(maker, Qt::LeftButton);
    QTest::mouseRelease(maker, Qt::LeftButton);
    QTest::mousePress(advert, Qt::LeftButton);
    QTest::mouseRelease(advert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([this] { return opened_.urls.size() >= 2; }));
    QTest::qWait(100);
    ASSERT_EQ(opened_.urls.size(), 2u);
    EXPECT_EQ(opened_.urls[0], QUrl(q(kMakerPage)));
    EXPECT_EQ(opened_.urls[1], QUrl(q(kDownloadPage)));
    EXPECT_NE(kMakerPage, kDownloadPage);
}

}  // namespace
}  // namespace lumora::app

#include "main_window_x11_test.moc"
