#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <utility>

namespace lumora::app {

namespace {

// Texts Qt 6.4's qtbase_zh_CN leaves out: the kind column of the folder chooser said "Folder".
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char*,
                      int) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static constexpr std::pair<const char*, const char*> kTexts[] = {{"Folder", "文件夹"},
                                                                         {"Drive", "驱动器"},
                                                                         {"Shortcut", "快捷方式"},
                                                                         {"Alias", "替身"},
                                                                         {"Unknown", "未知"}};
        for (const auto& [english, chinese] : kTexts) {
            if (qstrcmp(sourceText, english) == 0)
                return QString::fromUtf8(chinese);
        }
        return {};
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

bool installQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // Qt's own files, where the distribution's qt6-translations-l10n puts them.
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    QCoreApplication::installTranslator(new MissingQtTexts(QCoreApplication::instance()));
    return true;
}

}  // namespace lumora::app
