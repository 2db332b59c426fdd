#pragma once

#include <QDir>
#include <QList>
#include <QLocale>
#include <QString>
#include <optional>
#include <variant>

// The stretch of the records a report covers, on the records' own clock (log time, as in
// log_parse.h): the doses that began in [fromMs, toMs).
struct ReportPeriod {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QString name;  // "Turno 2", "Últimas 24 horas", "Hoy"...; empty for dates typed
};

// A shift of the plant's day as modbus.ini's [Turnos] keeps it: "Turno1=06:00-14:00;".
// One whose end is not after its start runs past midnight (22:00-06:00).
struct Shift {
    int number = 0;  // 1 to kMostShifts
    int startMinute = 0;
    int endMinute = 0;
    bool operator==(const Shift&) const = default;
};
constexpr int kMostShifts = 4;

// The shifts in `dir`'s modbus.ini, by number; none without a [Turnos]. The error names
// the key that cannot be used.
std::variant<QList<Shift>, QString> readShifts(const QDir& dir);
// "06:00-14:00" (the stored value's last character already dropped).
std::optional<Shift> parseShift(int number, const QString& text);

// The last occurrence of `shift` that ended at or before `nowMs`.
ReportPeriod lastEnded(const Shift& shift, qint64 nowMs);
// The occurrence of a shift under way at `nowMs`, from its start to its end; none when
// no shift covers it.
std::optional<ReportPeriod> currentShift(const QList<Shift>& shifts, qint64 nowMs);
// The last shift that ended; the last 24 hours without shifts.
ReportPeriod defaultPeriod(const QList<Shift>& shifts, qint64 nowMs);
// The day `daysBack` days before `nowMs`'s (0: today), midnight to midnight.
ReportPeriod dayPeriod(qint64 nowMs, int daysBack);

// The records' clock now: this computer's date and time of day.
qint64 nowLogMs();

// "8/12/26 6:00" on the records' clock, in `locale`'s short date.
QString logTimeText(qint64 ms, const QLocale& locale);
// "Turno 3: del 7/12/26 22:00 al 8/12/26 6:00".
QString periodText(const ReportPeriod& period, const QLocale& locale);
