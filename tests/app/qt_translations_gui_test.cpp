// Qt's own dialogs speak the program's language once start-up has loaded Qt's translations.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt_translations.h"

namespace {

TEST(QtTranslations, MessageBoxAndFolderChooserAreChinese) {
    ASSERT_TRUE(lumora::app::installQtTranslations());

    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));

    // The widget-based chooser the program shows (never a native one).
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setFileMode(QFileDialog::Directory);
    QStringList labels;
    for (const QLabel* label : chooser.findChildren<QLabel*>())
        labels << label->text();
    EXPECT_FALSE(labels.contains(QStringLiteral("Look in:"))) << labels.join('|').toStdString();
    EXPECT_FALSE(labels.contains(QStringLiteral("Directory:"))) << labels.join('|').toStdString();
    const auto* buttons = chooser.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    // The kind column of its folder list, which Qt's own file leaves English.
    EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QDir::tempPath())),
              QStringLiteral("文件夹"));
}

}  // namespace
