#include "weight_log.h"

#include <QFile>
#include <utility>

#include "weight_format.h"

namespace {

// The locale's long time format names the time zone ("H:mm:ss (t)" in Spanish,
// "h:mm:ss AP t" in English); the log wants hours, minutes and seconds only. Drop the
// zone letters outside quoted literals, then whatever brackets and spaces they leave.
QString timeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) continue;
        result += c;
    }
    result.remove(QStringLiteral("()"));
    result.remove(QStringLiteral("[]"));
    return result.simplified();
}

}  // namespace

QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale) {
    const QChar sep = QLatin1Char(';');
    return locale.toString(when.date(), QLocale::ShortFormat) + sep +
           locale.toString(when.time(), timeFormatWithoutZone(locale)) + sep +
           formatWeight(weights.gross, decimals, locale) + sep +
           formatWeight(weights.tare, decimals, locale) + sep +
           formatWeight(weights.net, decimals, locale);
}

WeightLog::WeightLog(QString path) : path_(std::move(path)) {}

bool WeightLog::append(const QString& line) {
    backlog_.append(line);
    // A log that stays unwritable for days must not eat the station's memory: beyond
    // the bound the oldest lines go first.
    if (backlog_.size() > kMaxBacklog) backlog_.remove(0, backlog_.size() - kMaxBacklog);

    // Opened and closed every time so other programs can read or move the file between
    // cycles. Unbuffered, so a line counts as written only once the system took it all
    // and a half-failed write never repeats lines that already reached the file.
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return false;
    qsizetype written = 0;
    for (const QString& pending : std::as_const(backlog_)) {
        const QByteArray bytes = pending.toLocal8Bit() + "\r\n";
        if (file.write(bytes) != bytes.size()) break;
        ++written;
    }
    file.close();
    backlog_.remove(0, written);
    return backlog_.isEmpty();
}
