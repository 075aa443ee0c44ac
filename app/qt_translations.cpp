#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace lumora::app {

bool installQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // Qt's own files, where the distribution's qt6-translations-l10n puts them.
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace lumora::app
