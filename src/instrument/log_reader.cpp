#include "log_reader.h"

#include <QByteArray>
#include <QLocale>
#include <cstring>

namespace {

constexpr qsizetype kBlock = 1 << 20;
constexpr qsizetype kLongestLine = 4096;

}  // namespace

void forEachLine(QIODevice& device,
                 const std::function<bool(QByteArrayView line, qint64 number)>& line) {
    QByteArray buffer(kBlock + kLongestLine, Qt::Uninitialized);
    qsizetype held = 0;  // bytes of an unfinished line at the buffer's start
    qint64 number = 0;
    bool overlong = false;  // inside a line already passed on cut short
    for (;;) {
        const qint64 got = device.read(buffer.data() + held, kBlock);
        if (got <= 0) break;
        const char* data = buffer.constData();
        const qsizetype end = held + got;
        qsizetype start = 0;
        for (;;) {
            const void* nl = std::memchr(data + start, '\n', static_cast<size_t>(end - start));
            if (!nl) break;
            const qsizetype stop = static_cast<const char*>(nl) - data;
            if (!overlong && !line(QByteArrayView(data + start, stop - start), ++number)) return;
            overlong = false;
            start = stop + 1;
        }
        held = end - start;
        if (held > kLongestLine) {
            if (!overlong && !line(QByteArrayView(data + start, kLongestLine), ++number)) return;
            overlong = true;
            held = 0;
        } else {
            std::memmove(buffer.data(), data + start, static_cast<size_t>(held));
        }
    }
    if (held > 0 && !overlong) line(QByteArrayView(buffer.constData(), held), ++number);
}

DateOrder detectDateOrder(QIODevice& device, DateOrder fallback) {
    DateOrder order = DateOrder::Unknown;
    bool twelveHour = false;
    QByteArray lastDate;
    forEachLine(device, [&](QByteArrayView line, qint64) {
        const auto fields = splitLogLine(line);
        if (!fields) return true;
        // A day's log repeats its date tens of thousands of times: look at each once.
        if (fields->date != QByteArrayView(lastDate)) {
            lastDate = fields->date.toByteArray();
            if (const auto date = parseLogDate(fields->date)) order = dateOrderHint(*date);
        }
        if (!twelveHour) {
            const auto time = parseLogTime(fields->time);
            twelveHour = time && time->twelveHour;
        }
        return order == DateOrder::Unknown;
    });
    if (order != DateOrder::Unknown) return order;
    return twelveHour ? DateOrder::MonthFirst : fallback;
}

DateOrder systemDateOrder() {
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    const qsizetype day = format.indexOf(QLatin1Char('d'));
    const qsizetype month = format.indexOf(QLatin1Char('M'));
    return month >= 0 && day > month ? DateOrder::MonthFirst : DateOrder::DayFirst;
}

QString skippedLinesNote(const QString& path, qint64 count, qint64 first) {
    return QStringLiteral("%1: %2 líneas ilegibles omitidas (la primera, línea %3)")
        .arg(path)
        .arg(count)
        .arg(first);
}
