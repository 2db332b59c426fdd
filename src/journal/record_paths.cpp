#include "record_paths.h"

QString moduleFolderName(int number) {
    return number == 1 ? QString() : QStringLiteral("Modulo%1").arg(number);
}

ModuleRecords moduleRecords(const QDir& station, int number) {
    const QString folder = moduleFolderName(number);
    return {folder.isEmpty() ? station.absolutePath() : station.absoluteFilePath(folder)};
}
