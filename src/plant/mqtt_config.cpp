#include "mqtt_config.h"

#include <QSysInfo>

#include "journal.h"

QString defaultTopicRoot() {
    return QStringLiteral("vormelq/") + QSysInfo::machineHostName();
}

QString stationClientId(const QString& dir) {
    // The session is clean: the broker keeps nothing under the id, which only has to be
    // no other station's.
    return QStringLiteral("vormelq:%1:%2").arg(QSysInfo::machineHostName(), folderDigest(dir));
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
