#include "state_texts.h"

#include <cmath>

#include "cycle_detector.h"
#include "record_paths.h"
#include "weight_format.h"

QString counted(qint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count == 1 ? one : many));
}

QString noCommunicationText() {
    return QStringLiteral("ERROR: No hay comunicación con el módulo");
}

QString recordFile(Record record) {
    switch (record) {
        case Record::Weights:
            return kWeightsFile;
        case Record::Doses:
            return kDosesFile;
        case Record::Changes:
            break;
    }
    return kChangesFile;
}

QString linesText(Record record, int count) {
    switch (record) {
        case Record::Weights:
            return counted(count, "lectura", "lecturas");
        case Record::Doses:
            return counted(count, "dosificación", "dosificaciones");
        case Record::Changes:
            break;
    }
    return counted(count, "cambio", "cambios");
}

QString pendingText(Record record, int count) {
    return QStringLiteral("%1 (%2 %3)")
        .arg(recordFile(record), linesText(record, count),
             count == 1 ? QStringLiteral("pendiente") : QStringLiteral("pendientes"));
}

QString writtenAgainText(Record record, int count) {
    return QStringLiteral("%1 se escribe de nuevo (%2 %3)")
        .arg(recordFile(record),
             count == 1 ? QStringLiteral("esperaba") : QStringLiteral("esperaban"),
             linesText(record, count));
}

QString notWrittenText(const QStringList& parts) {
    return QStringLiteral("ERROR: No se puede escribir ") + parts.join(QStringLiteral(" ni "));
}

QString doseNoticeText(const DoseRecord& record, int decimals, const QLocale& locale) {
    const double percent = record.deviationPercent().value_or(0);
    const QString sign = percent < 0 ? QStringLiteral("\u2212") : QStringLiteral("+");
    const QString product = record.trace && !record.trace->product.isEmpty()
                                ? QStringLiteral(" (%1)").arg(record.trace->product)
                                : QString();
    return QStringLiteral("Dosificación fuera de tolerancia%1: %2 kg (%3%4 %)")
        .arg(product,
             formatWeight(stepsWeight(record.finalNet.value_or(0), decimals), decimals, locale),
             sign, locale.toString(std::abs(percent), 'f', 1));
}

QString lotCompleteText(const QString& lot, int doses) {
    return QStringLiteral("Lote %1 completo: %2 dosis").arg(lot).arg(doses);
}

QString mqttStatusText(const MqttStatus& status) {
    QStringList counts;
    if (!status.connected) counts << counted(status.pending, "pendiente", "pendientes");
    if (status.dropped > 0) counts << counted(status.dropped, "descartado", "descartados");
    QString text =
        status.connected ? QStringLiteral("MQTT: conectado") : QStringLiteral("MQTT: sin conexión");
    if (!counts.isEmpty()) text += QStringLiteral(" (%1)").arg(counts.join(QStringLiteral(", ")));
    if (!status.connected && !status.reason.isEmpty()) text += QStringLiteral(": ") + status.reason;
    return text;
}
