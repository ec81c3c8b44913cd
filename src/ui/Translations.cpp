#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallTranslations(QCoreApplication *application)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool loaded = false;
    // qt_zh_CN gathers the catalogues of the base modules; the web engine's own
    // texts (its context menu) come separately.
    for (const char *catalogue : {"qt_zh_CN", "qtwebengine_zh_CN"}) {
        auto *translator = new QTranslator(application);
        if (translator->load(QLatin1String(catalogue), folder) && QCoreApplication::installTranslator(translator)) {
            loaded = true;
            continue;
        }
        delete translator;
    }
    return loaded;
}
