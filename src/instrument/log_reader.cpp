#include "log_reader.h"

#include <QByteArray>
#include <QLocale>
#include <algorithm>
#include <cstring>

#include "block_reader.h"

namespace {

constexpr qsizetype kBlock = 1 << 20;
constexpr qsizetype kLongestLine = kLongestLogLine;

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
            const QByteArrayView text(data + start, std::min(stop - start, kLongestLine));
            if (!overlong && !line(text, ++number)) return;
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
    LogLineParser parser(DateOrder::Unknown);
    DateEvidence evidence;
    LogRecord record;
    forEachLine(device, [&](QByteArrayView line, qint64) {
        parser.parse(line, record);
        evidence.follow(parser.takeEvidence());
        return evidence.firstHint == DateOrder::Unknown;
    });
    return evidence.order(fallback);
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

QString noReadingNote(const QString& path) {
    return QStringLiteral(
               "%1 no tiene ninguna lectura legible (se espera "
               "fecha;hora;bruto;tara;neto por línea)")
        .arg(path);
}

namespace {

// Peso.csv's lines as readings, a block at a time.
class LogBlockParser {
public:
    using Block = LogBlock;
    explicit LogBlockParser(DateOrder order) : parser_(order) {}

    void begin(LogBlock& block) {
        parser_.takeEvidence();  // of the block before
        block.records.clear();
        block.lines = 0;
        block.unreadable = 0;
        block.firstUnreadable = 0;
    }
    void line(QByteArrayView line, LogBlock& block) {
        ++block.lines;
        if (parser_.parse(line, record_)) {
            block.records.push_back(record_);
        } else if (!line.trimmed().isEmpty()) {
            // A blank line (an editor's last line, a CR LF read twice) is no reading lost.
            if (block.unreadable++ == 0) block.firstUnreadable = block.lines;
        }
    }
    void end(LogBlock& block) { block.evidence = parser_.takeEvidence(); }

private:
    LogLineParser parser_;
    LogRecord record_;
};

}  // namespace

bool readLogBlocks(QFile& file, DateOrder order, const std::function<bool(const LogBlock&)>& take,
                   qsizetype blockBytes, int threads) {
    return readBlocks<LogBlockParser>(
        file, [order] { return LogBlockParser(order); }, take, blockBytes, threads);
}
