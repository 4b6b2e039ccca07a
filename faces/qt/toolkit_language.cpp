#include "faces/qt/toolkit_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace zl {

void SetToolkitLanguage(bool german) {
    // One translator for the whole process, owned by the application object.
    static QTranslator* translator = nullptr;
    static bool installed = false;
    static bool warned = false;
    if (german == installed || !QCoreApplication::instance()) return;
    if (!german) {
        QCoreApplication::removeTranslator(translator);
        installed = false;
        return;
    }
    if (!translator) {
        const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        auto* loaded = new QTranslator(QCoreApplication::instance());
        if (!loaded->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
            delete loaded;
            if (!warned) {
                warned = true;
                std::fprintf(stderr,
                             "BootloaderZL: Qt's German translation (qtbase_de.qm) is not in %s; the buttons of the "
                             "file dialogs and message boxes stay English (Debian package qt6-translations-l10n)\n",
                             qPrintable(dir));
            }
            return;
        }
        translator = loaded;
    }
    installed = QCoreApplication::installTranslator(translator);
}

}  // namespace zl
