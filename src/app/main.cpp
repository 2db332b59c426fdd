#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <cstdio>

#include "station.h"

namespace {
const QString kTitle = QStringLiteral("Vormel-Q");
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kTitle);
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));

    Station station;
    const QString error = station.Form_Load();
    if (!error.isEmpty()) {
        // Also on stderr, for whoever started the station from a script.
        std::fprintf(stderr, "vormelq: %s\n", qUtf8Printable(error));
        QMessageBox box(QMessageBox::Critical, kTitle, error, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // Closing the window ends the program at once, whatever dialog is still open.
    QObject::connect(&station.form(), &frmPeso::unloading, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    station.form().show();
    return app.exec();
}
