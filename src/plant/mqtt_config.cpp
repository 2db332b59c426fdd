#include "mqtt_config.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSysInfo>

QString defaultTopicRoot() {
    return QStringLiteral("vormelq/") + QSysInfo::machineHostName();
}

QString stationClientId(const QString& dir) {
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(dir).absolutePath()));
    const QByteArray digest = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("vormelq:%1:%2")
        .arg(QSysInfo::machineHostName(), QString::fromLatin1(digest.left(12)));
}

QString topicRootProblem(const QString& root) {
    // Wildcards are for subscribers; a topic with one cannot be published to, and an empty
    // level at the end would make "R//lectura".
    if (root.isEmpty()) return QStringLiteral("vacío tras quitar el último carácter");
    if (root.contains(u'+') || root.contains(u'#'))
        return QStringLiteral("no puede llevar los comodines + ni #");
    if (root.endsWith(u'/')) return QStringLiteral("no puede acabar en /");
    if (root.contains(QChar(u'\0'))) return QStringLiteral("no puede llevar caracteres nulos");
    return {};
}
