#include "weight_log.h"

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

QString logDate(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when.date(), QLocale::ShortFormat);
}

QString logTime(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when.time(), timeFormatWithoutZone(locale));
}

QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale) {
    const QChar sep = QLatin1Char(';');
    return logDate(when, locale) + sep + logTime(when, locale) + sep +
           formatWeight(weights.gross, decimals, locale) + sep +
           formatWeight(weights.tare, decimals, locale) + sep +
           formatWeight(weights.net, decimals, locale);
}
