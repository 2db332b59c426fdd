#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <utility>

#include "journal.h"
#include "readers.h"
#include "record_paths.h"

// The date and the time of a line as Peso.csv writes them; every record the station
// keeps writes its times this way.
QString logDate(const QDateTime& when, const QLocale& locale);
QString logTime(const QDateTime& when, const QLocale& locale);

// One line of Peso.csv without its CR LF: short date; long time (h:m:s, no zone);
// gross; tare; net.
QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale);

// Peso.csv: the weight lines on a journal of their own, opened and closed for every
// line so other programs can read the file in between.
class WeightLog {
public:
    explicit WeightLog(QString path = kWeightsFile) : journal_(std::move(path)) {}

    // Returns true when the line and every pending one reached the log.
    bool append(const QString& line) { return journal_.append(line.toLocal8Bit()); }
    // Moves the pending lines into the log if it can be written now.
    bool flushPending() { return journal_.flushPending(); }
    int pending() const { return journal_.pending(); }

private:
    Journal journal_;
};
