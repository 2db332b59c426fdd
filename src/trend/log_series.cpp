#include "log_series.h"

#include <algorithm>

#include "log_reader.h"
#include "weight_history.h"

namespace {

// The log read in `order`, given up as soon as its own dates say it is written in the
// other one; `evidence` gets what its lines said.
LogSeries readLogIn(QFile& file, DateOrder order, const LogRange& range, int columns,
                    DateEvidence& evidence) {
    LogSeries series;
    std::optional<Decimator> decimator;
    if (range.fromMs && range.toMs)
        decimator.emplace(*range.fromMs, (*range.toMs - *range.fromMs) / (2 * columns) + 1,
                          2 * columns);
    GapRule gaps;
    std::optional<qint64> previousMs;
    bool anyInRange = false;
    qint64 linesBefore = 0;  // of the blocks taken
    auto fold = [&](const LogRecord& record) {
        ++series.readable;
        const bool gap = previousMs && gaps.isGap(*previousMs, record.ms);
        previousMs = record.ms;
        if ((range.fromMs && record.ms < *range.fromMs) || (range.toMs && record.ms > *range.toMs))
            return;
        if (!decimator) decimator.emplace(range.fromMs.value_or(record.ms), 1000, 2 * columns);
        if (gap) decimator->addGap();
        decimator->add(record.ms, record.gross, record.net);
        series.firstMs = anyInRange ? std::min(series.firstMs, record.ms) : record.ms;
        series.lastMs = anyInRange ? std::max(series.lastMs, record.ms) : record.ms;
        series.decimals = std::max(series.decimals, record.decimals);
        anyInRange = true;
    };
    series.whole = readLogBlocks(file, order, [&](const LogBlock& block) {
        if (block.unreadable > 0 && series.unreadable == 0)
            series.firstUnreadable = linesBefore + block.firstUnreadable;
        series.unreadable += block.unreadable;
        linesBefore += block.lines;
        for (const LogRecord& record : block.records) fold(record);
        evidence.follow(block.evidence);
        return evidence.firstHint == DateOrder::Unknown || evidence.firstHint == order;
    });
    if (decimator) series.buckets = decimator->buckets();
    return series;
}

}  // namespace

LogSeries readLog(QFile& file, DateOrder fallback, const LogRange& range, int columns) {
    // Read first in the likelier order; a file written in the other one (and a file
    // whose dates all read both ways, when its times say the other) is read again.
    DateOrder order = fallback;
    for (;;) {
        DateEvidence evidence;
        LogSeries series = readLogIn(file, order, range, columns, evidence);
        const DateOrder fileOrder = evidence.order(fallback);
        if (!series.whole || fileOrder == order) return series;
        order = fileOrder;
    }
}
