#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QMetaType>
#include <QString>
#include <optional>

#include "requests.h"

// One operator action as Cambios.csv keeps it, every field as written.
struct ChangeLine {
    QString fecha;
    QString hora;
    QString usuario;
    QString equipo;
    QString campo;
    QString antes;
    QString valor;
    QString registros;
    QString resultado;
    QByteArray chain;  // 16 hex digits linking the line to the one before
    // The instant fecha and hora were written for; invalid for a line read back, whose
    // date and time are only the wall clock's.
    QDateTime when;
};

// Who is at the station: the session's login and the computer's name.
struct SessionOperator {
    QString usuario;
    QString equipo;
};
SessionOperator thisSession();

// The link before the first line of a record.
inline const QByteArray kChainStart = QByteArrayLiteral("0000000000000000");

// The chain field of a line whose other fields are `body` (the line up to its last
// ';', as bytes in the file) and whose predecessor's chain field is `previousChain`.
QByteArray chainLink(const QByteArray& previousChain, const QByteArray& body);

// A line's last field: its link to the one before.
QByteArray chainField(const QByteArray& line);

// The line without its CR LF, in the file's encoding: the nine fields and, last, the
// link to `previousChain` (line.chain is not read).
QByteArray changeLineText(const ChangeLine& line, const QByteArray& previousChain);
// Back from a line of the file; nullopt when it does not have the ten fields.
std::optional<ChangeLine> readChangeLine(const QByteArray& text);

// "16=1234 17=0": each register that went out, by address and decimal value.
QString registersText(const QList<RegisterWrite>& writes);
// "Enviado", "Error", "Rechazado (3)", "Fuera de rango", "Descartado".
QString resultText(WriteResult result, int exceptionCode);

// The line for an outcome known at `when` (its chain left empty).
ChangeLine changeOf(const WriteOutcome& outcome, const QDateTime& when, const SessionOperator& who,
                    const QLocale& locale);

Q_DECLARE_METATYPE(ChangeLine)
