#include <QByteArray>
#include <QByteArrayView>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "log_parse.h"

// Any bytes, cut into lines, read as the lines of a weight log in each date order: by
// the reader that works each date out once and by the one that reads a line alone.
//
// What must hold: nothing is read outside the line (the separators are looked for eight
// bytes at a time), and the two readers agree on every line, so that the date the reader
// kept from an earlier line never stands in for another.
namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each line in a buffer of its own size, so that a read past its end is seen.
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\n');
    for (const DateOrder order : {DateOrder::DayFirst, DateOrder::MonthFirst}) {
        LogLineParser parser(order);
        for (const QByteArray& line : lines) {
            const QByteArray exact(line.constData(), line.size());
            LogRecord record;
            const bool read = parser.parse(QByteArrayView(exact), record);
            const std::optional<LogRecord> alone = parseLogLine(QByteArrayView(exact), order);
            check(read == alone.has_value());
            if (!read) continue;
            check(record.ms == alone->ms && record.decimals == alone->decimals);
            check(same(record.gross, alone->gross) && same(record.tare, alone->tare) &&
                  same(record.net, alone->net));
        }
    }
    return 0;
}
