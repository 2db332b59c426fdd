#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "readers.h"

// The date and the time of a line as Peso.csv writes them; every record the station
// keeps writes its times this way.
QString logDate(const QDateTime& when, const QLocale& locale);
QString logTime(const QDateTime& when, const QLocale& locale);

// One line of Peso.csv without its CR LF: short date; long time (h:m:s, no zone);
// gross; tare; net.
QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale);

// Appends lines to the log file, opening and closing it for every cycle so other
// programs can read it in between. A line reaches the file whole or not at all. A line
// the file cannot take waits in the pending file beside it (pendingLogPath), or in
// memory while no file here can be written, and is moved into the log, in order and
// once only, as soon as the log can be written again: by this station or by the next
// one started in the same directory.
class WeightLog {
public:
    explicit WeightLog(QString path = QStringLiteral("Peso.csv"));

    // Returns true when the line and every pending one reached the log.
    bool append(const QString& line);
    // Moves the pending lines into the log if it can be written now.
    bool flushPending();
    int pending() const { return inFile_ + inMemory_; }

private:
    void keep(const QByteArray& lines, int count);
    QByteArray movingLines() const;
    bool undoUnfinishedMove();

    QString path_;
    QString pendingPath_;
    QString movePath_;
    int inFile_ = 0;
    QByteArray memory_;
    int inMemory_ = 0;
};

// "Peso.pendiente.csv" beside "Peso.csv": the lines waiting for the log, in its format.
QString pendingLogPath(const QString& logPath);
