#pragma once

#include <QFile>
#include <optional>
#include <vector>

#include "decimator.h"
#include "log_parse.h"

struct LogSeries {
    std::vector<Bucket> buckets;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    int decimals = 0;
    qint64 readable = 0;         // lines read, inside the range or not
    qint64 unreadable = 0;       // lines skipped (empty lines do not count)
    qint64 firstUnreadable = 0;  // line number of the first, 0 when none
    bool whole = true;           // false when part of the file could not be read
};

struct LogRange {
    std::optional<qint64> fromMs;
    std::optional<qint64> toMs;
};

// Readings of `range` folded into about `columns` buckets while the file is read, so
// memory stays the same whatever the file's size. The line breaks where GapRule says.
// The dates are read in the file's own order (as detectDateOrder finds it), `fallback`
// when it has none.
LogSeries readLog(QFile& file, DateOrder fallback, const LogRange& range, int columns);
