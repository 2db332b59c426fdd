#include "payloads.h"

#include "weight_format.h"

QByteArray jsonObject(const QList<JsonField>& fields) {
    QByteArray text = "{";
    for (const JsonField& field : fields) {
        if (text.size() > 1) text += ',';
        text += jsonString(field.name) + ':' + field.value;
    }
    return text + '}';
}

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            // Control characters escaped keeps every message on one line of the outbox.
            out += QByteArray("\\u00") + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray jsonNumber(double value, int decimals) {
    return formatWeight(value, decimals, QLocale::c()).toLatin1();
}

QByteArray jsonNumber(std::optional<double> value, int decimals) {
    return value ? jsonNumber(*value, decimals) : QByteArray("null");
}

QByteArray jsonInteger(qint64 value) {
    return QByteArray::number(value);
}

QByteArray jsonBool(bool value) {
    return value ? "true" : "false";
}

QByteArray jsonTime(const QDateTime& when) {
    return jsonString(when.toUTC().toString(Qt::ISODateWithMs));
}

QByteArray withSeq(qint64 seq, const QByteArray& body) {
    const QByteArray rest = body.mid(1);
    return "{\"seq\":" + QByteArray::number(seq) + (rest == "}" ? "" : ",") + rest;
}

std::optional<qint64> seqOf(const QByteArray& message) {
    static const QByteArray kPrefix = "{\"seq\":";
    if (!message.startsWith(kPrefix)) return std::nullopt;
    qsizetype end = kPrefix.size();
    while (end < message.size() && message[end] >= '0' && message[end] <= '9') ++end;
    bool ok = false;
    const qint64 seq = message.mid(kPrefix.size(), end - kPrefix.size()).toLongLong(&ok);
    return ok ? std::optional(seq) : std::nullopt;
}

QByteArray lecturaBody(const QDateTime& when, const WeightReading& weights, int decimals) {
    return jsonObject({{"ts", jsonTime(when)},
                       {"bruto", jsonNumber(weights.gross, decimals)},
                       {"tara", jsonNumber(weights.tare, decimals)},
                       {"neto", jsonNumber(weights.net, decimals)},
                       {"estado", jsonInteger(weights.state)},
                       {"tarea", jsonInteger(weights.task)}});
}

QByteArray jsonStringOrNull(const QString& text) {
    return text.isEmpty() ? QByteArray("null") : jsonString(text);
}

QByteArray dosificacionBody(const DoseValues& dose, int decimals) {
    QList<JsonField> fields{{"inicio", jsonTime(dose.start)},
                            {"fin", jsonTime(dose.end)},
                            {"teorico", jsonNumber(dose.target, decimals)},
                            {"grueso", jsonNumber(dose.coarse, decimals)},
                            {"fino", jsonNumber(dose.fine, decimals)},
                            {"final", jsonNumber(dose.finalWeight, decimals)},
                            {"desviacion", jsonNumber(dose.deviation, decimals)},
                            {"resultado", jsonString(dose.result)}};
    if (dose.trace)
        fields << JsonField{"producto", jsonStringOrNull(dose.trace->product)}
               << JsonField{"lote", jsonStringOrNull(dose.trace->lot)};
    return jsonObject(fields);
}

DoseValues doseValues(const DoseRecord& dose, int decimals) {
    const auto weight = [decimals](std::optional<qint64> steps) -> std::optional<double> {
        if (!steps) return std::nullopt;
        return stepsWeight(static_cast<double>(*steps), decimals);
    };
    return {dose.start,
            dose.end,
            weight(dose.target),
            weight(dose.coarse),
            weight(dose.fine),
            weight(dose.finalNet),
            weight(dose.deviation()),
            doseResultText(dose.result),
            dose.trace};
}

QList<JsonField> cambioFields(const ChangeLine& change) {
    return {
        {QStringLiteral("ts"), jsonTime(change.when)},
        {QStringLiteral("fecha"), jsonString(change.fecha)},
        {QStringLiteral("hora"), jsonString(change.hora)},
        {QStringLiteral("usuario"), jsonString(change.usuario)},
        {QStringLiteral("equipo"), jsonString(change.equipo)},
        {QStringLiteral("campo"), jsonString(change.campo)},
        {QStringLiteral("antes"), jsonString(change.antes)},
        {QStringLiteral("valor"), jsonString(change.valor)},
        {QStringLiteral("registros"), jsonString(change.registros)},
        {QStringLiteral("resultado"), jsonString(change.resultado)},
        {QStringLiteral("enlace"), jsonString(QString::fromLatin1(change.chain))},
    };
}

QByteArray consignasPayload(const QDateTime& when, const Setpoints& setpoints, int decimals,
                            const std::optional<QString>& product) {
    QList<JsonField> fields{{"ts", jsonTime(when)},
                            {"banda_cero", jsonNumber(setpoints.zeroBand, decimals)},
                            {"grueso", jsonNumber(setpoints.coarse, decimals)},
                            {"fino", jsonNumber(setpoints.fine, decimals)},
                            {"teorico", jsonNumber(setpoints.target, decimals)},
                            {"porcentaje", jsonInteger(setpoints.percentage)}};
    if (product) fields << JsonField{"producto", jsonStringOrNull(*product)};
    return jsonObject(fields);
}

QByteArray comunicacionPayload(const QDateTime& when, bool answering) {
    return jsonObject({{"ts", jsonTime(when)}, {"ok", jsonBool(answering)}});
}

QByteArray estadoPayload(bool online) {
    return online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline");
}
