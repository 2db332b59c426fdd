#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "change_line.h"
#include "dose_record.h"
#include "readers.h"

// The messages the station publishes, as JSON text built from plain values. Weights are
// JSON numbers written with the configured decimals (72.10 stays 72.10), so a receiver
// sees the value exactly as the window and Peso.csv show it.

// One member of a JSON object: its name and its value already written as JSON.
struct JsonField {
    QString name;
    QByteArray value;
};

QByteArray jsonObject(const QList<JsonField>& fields);
QByteArray jsonString(const QString& text);
QByteArray jsonStringOrNull(const QString& text);  // null when empty
QByteArray jsonNumber(double value, int decimals);
QByteArray jsonNumber(std::optional<double> value, int decimals);  // null when empty
QByteArray jsonInteger(qint64 value);
QByteArray jsonBool(bool value);
// UTC with milliseconds: 2026-12-07T15:04:05.123Z.
QByteArray jsonTime(const QDateTime& when);

// The object `body` with "seq" as its first member: the outbox numbers a message when it
// keeps it, after the caller built the rest.
QByteArray withSeq(qint64 seq, const QByteArray& body);
// The "seq" of a message made by withSeq; nullopt for anything else.
std::optional<qint64> seqOf(const QByteArray& message);

// A line of Peso.csv: the time the line carries and its weights.
QByteArray lecturaBody(const QDateTime& when, const WeightReading& weights, int decimals);

// A line of Dosificaciones.csv; an empty field is absent here and null in the message.
struct DoseValues {
    QDateTime start;
    QDateTime end;
    std::optional<double> target;
    std::optional<double> coarse;
    std::optional<double> fine;
    std::optional<double> finalWeight;
    std::optional<double> deviation;
    QString result;
    std::optional<DoseTrace> trace;  // with a product table: "producto" and "lote"
};
QByteArray dosificacionBody(const DoseValues& dose, int decimals);
// The live station's record of a cycle, its weights with the configured decimals.
DoseValues doseValues(const DoseRecord& dose, int decimals);

// A line of Cambios.csv: the instant it was recorded ("ts"), then its fields as written,
// by their names, so that a receiver can check the chain on the line's own text.
QList<JsonField> cambioFields(const ChangeLine& change);

// With a product table, `product` is the one the setpoints hold ("producto", null for none).
QByteArray consignasPayload(const QDateTime& when, const Setpoints& setpoints, int decimals,
                            const std::optional<QString>& product = std::nullopt);
QByteArray comunicacionPayload(const QDateTime& when, bool answering);
// A module's retained "estado": "online" while the station is connected to the broker,
// "offline" once it stops cleanly, or as its last will when it is killed or cut off.
QByteArray estadoPayload(bool online);
