#include "report_period.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>

#include "cycle_detector.h"
#include "lee_ini.h"

namespace {

constexpr qint64 kMinuteMs = 60000;
constexpr qint64 kDayMs = 86400000;

qint64 dayStartOf(qint64 ms) {
    return ms - ((ms % kDayMs) + kDayMs) % kDayMs;
}

qint64 lengthMs(const Shift& shift) {
    const int minutes = ((shift.endMinute - shift.startMinute) % 1440 + 1440) % 1440;
    return (minutes == 0 ? 1440 : minutes) * kMinuteMs;
}

ReportPeriod occurrence(const Shift& shift, qint64 endMs) {
    return {endMs - lengthMs(shift), endMs, QStringLiteral("Turno %1").arg(shift.number)};
}

}  // namespace

std::optional<Shift> parseShift(int number, const QString& text) {
    static const QRegularExpression kForm(
        QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})\\s*-\\s*(\\d{1,2}):(\\d{2})\\s*$"));
    const auto match = kForm.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const int h1 = match.captured(1).toInt(), m1 = match.captured(2).toInt();
    const int h2 = match.captured(3).toInt(), m2 = match.captured(4).toInt();
    // 24:00 ends a shift at midnight.
    if (h1 > 23 || m1 > 59 || h2 > 24 || m2 > 59 || (h2 == 24 && m2 != 0)) return std::nullopt;
    return Shift{number, h1 * 60 + m1, (h2 * 60 + m2) % 1440};
}

std::variant<QList<Shift>, QString> readShifts(const QDir& dir) {
    QList<Shift> shifts;
    for (int n = 1; n <= kMostShifts; ++n) {
        const QString key = QStringLiteral("Turno%1").arg(n);
        const QString value = LeeIni(QStringLiteral("Turnos"), key, QString(), dir);
        if (value.isEmpty()) continue;
        const auto shift = parseShift(n, value);
        if (!shift)
            return QStringLiteral("modbus.ini: %1=\"%2\" no es un turno (HH:MM-HH:MM)")
                .arg(key, value);
        shifts << *shift;
    }
    return shifts;
}

ReportPeriod lastEnded(const Shift& shift, qint64 nowMs) {
    qint64 end = dayStartOf(nowMs) + shift.endMinute * kMinuteMs;
    if (end > nowMs) end -= kDayMs;
    return occurrence(shift, end);
}

std::optional<ReportPeriod> currentShift(const QList<Shift>& shifts, qint64 nowMs) {
    for (const Shift& shift : shifts) {
        const ReportPeriod next = occurrence(shift, lastEnded(shift, nowMs).toMs + kDayMs);
        if (next.fromMs <= nowMs) return next;
    }
    return std::nullopt;
}

ReportPeriod defaultPeriod(const QList<Shift>& shifts, qint64 nowMs) {
    std::optional<ReportPeriod> last;
    for (const Shift& shift : shifts) {
        const ReportPeriod p = lastEnded(shift, nowMs);
        if (!last || p.toMs > last->toMs) last = p;
    }
    if (last) return *last;
    return {nowMs - kDayMs, nowMs, QStringLiteral("Últimas 24 horas")};
}

ReportPeriod dayPeriod(qint64 nowMs, int daysBack) {
    const qint64 start = dayStartOf(nowMs) - daysBack * kDayMs;
    return {start, start + kDayMs, daysBack == 0 ? QStringLiteral("Hoy") : QStringLiteral("Ayer")};
}

qint64 nowLogMs() {
    return logClockMs(QDateTime::currentDateTime());
}

QString logTimeText(qint64 ms, const QLocale& locale) {
    const QDateTime when = fromLogClock(ms);
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), QStringLiteral("H:mm"));
}

QString periodText(const ReportPeriod& period, const QLocale& locale) {
    // --hasta alone reads from the records' first line.
    const QString span =
        period.fromMs <= 0
            ? QStringLiteral("hasta el %1").arg(logTimeText(period.toMs, locale))
            : QStringLiteral("del %1 al %2")
                  .arg(logTimeText(period.fromMs, locale), logTimeText(period.toMs, locale));
    return period.name.isEmpty() ? span : period.name + QStringLiteral(": ") + span;
}
