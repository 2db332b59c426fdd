#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include "readers.h"

// One line of Peso.csv without its CR LF: short date; long time (h:m:s, no zone);
// gross; tare; net.
QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale);

// Appends lines to the log file, opening and closing it for every cycle so other
// programs can read it in between. A line that cannot be written is kept and written,
// in order, before the next line at the first cycle whose write succeeds.
class WeightLog {
public:
    static constexpr int kMaxBacklog = 100000;

    explicit WeightLog(QString path = QStringLiteral("Peso.csv"));

    // Returns true when every pending line reached the file.
    bool append(const QString& line);
    int pending() const { return static_cast<int>(backlog_.size()); }
    const QString& path() const { return path_; }

private:
    QString path_;
    QStringList backlog_;
};
