#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace tertulia {

bool InstallQtSpanishTranslations(QCoreApplication& app) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_es"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    // The application owns it from here on; it must outlive every dialog.
    translator->setParent(&app);
    return QCoreApplication::installTranslator(translator.release());
}

}  // namespace tertulia
