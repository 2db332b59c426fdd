#pragma once

#include <QDir>
#include <QString>

// The names of a module's records, as the plant's people and programs know them.
inline const QString kWeightsFile = QStringLiteral("Peso.csv");
inline const QString kDosesFile = QStringLiteral("Dosificaciones.csv");
inline const QString kChangesFile = QStringLiteral("Cambios.csv");

// Where a station's folder keeps module `number`'s records: module 1's in the folder
// itself, as a station of one module always kept them, module n's in "Modulo<n>" there.
struct ModuleRecords {
    QString folder;  // absolute

    QString weights() const { return file(kWeightsFile); }
    QString doses() const { return file(kDosesFile); }
    QString changes() const { return file(kChangesFile); }
    QString file(const QString& name) const { return QDir(folder).filePath(name); }
};

ModuleRecords moduleRecords(const QDir& station, int number);
// "Modulo<n>" for module n, empty for module 1.
QString moduleFolderName(int number);
