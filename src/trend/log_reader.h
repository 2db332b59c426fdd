#pragma once

#include <QIODevice>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "decimator.h"
#include "log_parse.h"
#include "weight_history.h"

// What is wrong with the arguments of an offline command (--plot, --cycles), in Spanish.
struct UsageError {
    QString message;
};

// Calls `line` for every line of `device` (without its line end) with its number from 1,
// reading in large blocks so a file of millions of lines goes by in seconds. A line
// longer than any the station writes is passed on cut short, so it fails to parse
// instead of growing the memory. Stops early when `line` returns false.
void forEachLine(QIODevice& device,
                 const std::function<bool(QByteArrayView line, qint64 number)>& line);

// The file's date order, from the first date that reads only one way; for a file whose
// every date reads both ways ("5/6/26" and nothing after the 12th), from the AM/PM of
// its times (month-first locales write them), else `fallback`.
DateOrder detectDateOrder(QIODevice& device, DateOrder fallback);

// The order this machine's own short dates are written in.
DateOrder systemDateOrder();

// What the offline commands say on stderr about the lines of a log they skipped.
QString skippedLinesNote(const QString& path, qint64 count, qint64 first);
// What they say of a log in which no line reads: the wrong file, most likely.
QString noReadingNote(const QString& path);

struct LogSeries {
    std::vector<Bucket> buckets;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    int decimals = 0;
    qint64 readable = 0;         // lines read, inside the range or not
    qint64 unreadable = 0;       // lines skipped (empty lines do not count)
    qint64 firstUnreadable = 0;  // line number of the first, 0 when none
};

struct LogRange {
    std::optional<qint64> fromMs;
    std::optional<qint64> toMs;
};

// Readings of `range` folded into about `columns` buckets while the file is read, so
// memory stays the same whatever the file's size. The line breaks where GapRule says.
LogSeries readLog(QIODevice& device, DateOrder order, const LogRange& range, int columns);
