#include "log_series.h"

#include <algorithm>

#include "log_reader.h"
#include "weight_history.h"

LogSeries readLog(QIODevice& device, DateOrder order, const LogRange& range, int columns) {
    LogSeries series;
    std::optional<Decimator> decimator;
    if (range.fromMs && range.toMs)
        decimator.emplace(*range.fromMs, (*range.toMs - *range.fromMs) / (2 * columns) + 1,
                          2 * columns);
    GapRule gaps;
    std::optional<qint64> previousMs;
    bool anyInRange = false;
    forEachLine(device, [&](QByteArrayView line, qint64 number) {
        const auto record = parseLogLine(line, order);
        if (!record) {
            // A blank line (an editor's last line, a CR LF read twice) is no reading lost.
            if (!line.trimmed().isEmpty()) {
                if (series.unreadable++ == 0) series.firstUnreadable = number;
            }
            return true;
        }
        ++series.readable;
        const bool gap = previousMs && gaps.isGap(*previousMs, record->ms);
        previousMs = record->ms;
        if ((range.fromMs && record->ms < *range.fromMs) ||
            (range.toMs && record->ms > *range.toMs))
            return true;
        if (!decimator) decimator.emplace(range.fromMs.value_or(record->ms), 1000, 2 * columns);
        if (gap) decimator->addGap();
        decimator->add(record->ms, record->gross, record->net);
        series.firstMs = anyInRange ? std::min(series.firstMs, record->ms) : record->ms;
        series.lastMs = anyInRange ? std::max(series.lastMs, record->ms) : record->ms;
        series.decimals = std::max(series.decimals, record->decimals);
        anyInRange = true;
        return true;
    });
    if (decimator) series.buckets = decimator->buckets();
    return series;
}
