#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include "dose_record.h"
#include "mqtt_publisher.h"

// What the station says about its states, in Spanish: the window's labels and the
// service's lines on stderr read the same words.

// A module that does not answer.
QString noCommunicationText();

// One record that cannot be written and how many of its lines wait, e.g.
// "Peso.csv (3 lecturas pendientes)".
enum class Record { Weights, Doses, Changes };
QString pendingText(Record record, int count);
// "1 pendiente", "3 pendientes": `count` and the word for one or for many (UTF-8).
QString counted(qint64 count, const char* one, const char* many);
// "12 lecturas", "1 dosificación", "3 cambios".
QString linesText(Record record, int count);
// "Peso.csv se escribe de nuevo (esperaban 12 lecturas)": the record can be written again
// and the `count` lines that waited are in it.
QString writtenAgainText(Record record, int count);
// The records that cannot be written, each as pendingText gives it.
QString notWrittenText(const QStringList& parts);
// The record's file name, as the operator knows it.
QString recordFile(Record record);

// "Dosificación fuera de tolerancia: 97,2 kg (−2,8 %)": the final weight and how far it
// is off the theoretical weight, in percent of it, signed.
// With the product in force, it is named: "Dosificación fuera de tolerancia (Harina): ...".
QString doseNoticeText(const DoseRecord& record, int decimals, const QLocale& locale);
// "Lote L-0427 completo: 50 dosis".
QString lotCompleteText(const QString& lot, int doses);

// "MQTT: conectado", or why not with what waits for the broker. Messages given up past
// the backlog's limit are told as long as the station runs.
QString mqttStatusText(const MqttStatus& status);
