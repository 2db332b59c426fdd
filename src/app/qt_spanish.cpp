#include "qt_spanish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

bool loadQtSpanish(QCoreApplication& app) {
    QLocale locale = QLocale::system();
    if (locale.language() != QLocale::Spanish) locale = QLocale(QLocale::Spanish, QLocale::Spain);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
        std::fprintf(stderr,
                     "vormelq: no se encuentran las traducciones de Qt (qtbase_es.qm) en %s\n",
                     qUtf8Printable(dir));
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
