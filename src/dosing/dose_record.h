#pragma once

#include <QByteArrayList>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QMetaType>
#include <QString>
#include <optional>
#include <span>

#include "cycle_detector.h"
#include "log_parse.h"

// One line of Dosificaciones.csv as values:
// fecha;inicio;fin;teorico;grueso;fino;final;desviacion;resultado[;producto;lote]
// Weights in display steps. The last two fields are written by a station that keeps a
// product table; lines written without one have nine fields, and both read back.

enum class DoseResult { Ok, Falta, Exceso, Hecha, Incompleta };

// "OK", "Falta", "Exceso", "Hecha", "Incompleta".
QString doseResultText(DoseResult result);

// What a dose was, where the station keeps a product table: the product in force at the
// final weight (at the end, without one) and the lot at the start, empty when none.
struct DoseTrace {
    QString product;
    QString lot;
    bool operator==(const DoseTrace&) const = default;
};

struct DoseRecord {
    // The times of the cycle's first and last reading. The live record's are instants, in
    // local time; a line read back, or a cycle found in a log, has only the wall-clock
    // time written (fromLogClock), which is no instant and is never published.
    QDateTime start;
    QDateTime end;
    std::optional<qint64> target;  // empty when not known (a log read without it)
    std::optional<qint64> coarse;
    qint64 fine = 0;
    std::optional<qint64> finalNet;  // empty for Incompleta
    DoseResult result = DoseResult::Incompleta;
    std::optional<DoseTrace> trace;

    std::optional<qint64> deviation() const;  // final - theoretical, signed
    // The deviation in percent of the theoretical weight; none without one.
    std::optional<double> deviationPercent() const;
    bool operator==(const DoseRecord&) const = default;
};

// Falta or Exceso: a complete dose off its tolerance.
bool outOfTolerance(const DoseRecord& record);

// A dose within the tolerance, limits included, is OK: a plant that writes "±0.5 %"
// accepts a dose exactly 0.5 % off. No tolerance (0) gives Hecha.
DoseResult doseResult(qint64 finalNet, qint64 target, double tolerancePercent);
// `timeOf` turns the detector's clock into dates: fromInstant live, fromLogClock offline.
using DoseClock = QDateTime (*)(qint64 ms);
DoseRecord doseRecord(const DoseCycle& cycle, double tolerancePercent, DoseClock timeOf);

// The line without its CR LF, numbers with `decimals` places and the locale's separator,
// the date and times as Peso.csv writes them.
QString doseLine(const DoseRecord& record, int decimals, const QLocale& locale);
// A line back to values, weights counted with `decimals`. A cycle that ends past
// midnight ends on the day after its date.
std::optional<DoseRecord> parseDoseLine(QByteArrayView line, DateOrder order, int decimals);

// Reads the lines of one record in turn, as parseDoseLine does, each date worked out once.
class DoseLineParser {
public:
    DoseLineParser(DateOrder order, int decimals);

    // False when the line is no dose; `record` is then any.
    bool parse(QByteArrayView line, DoseRecord& record);
    // The log time of 00:00 on the line's date, without reading the rest of it: a
    // record of years read for one shift passes over most of its lines.
    bool day(QByteArrayView line, qint64& ms);
    // What the dates read since the last call say of the record's order.
    DateEvidence takeEvidence() { return dates_.takeEvidence(); }

private:
    LogDateReader dates_;
    int decimals_;
    QByteArray productBytes_, lotBytes_;
    QString product_, lot_;
};

// The cycles of the record's newest lines (DoseLog::newestLines), oldest first; lines
// that do not read are left out.
QList<DoseRecord> doseHistory(const QByteArrayList& lines, DateOrder order, int decimals);

// The complete cycles' figures, in weight units.
struct DoseStats {
    int count = 0;
    double meanFinal = 0;
    double stdDev = 0;  // sample standard deviation (n - 1), 0 for a single cycle
    double minFinal = 0;
    double maxFinal = 0;
    double meanDeviation = 0;  // over the cycles with a theoretical weight
    int outOfTolerance = 0;    // Falta and Exceso
    double outOfTolerancePercent = 0;
    double totalDosed = 0;
    int below = 0;  // Falta
    int above = 0;  // Exceso
    bool operator==(const DoseStats&) const = default;
};
DoseStats doseStats(std::span<const DoseRecord> records, int decimals);

// The same figures gathered a dose at a time, for records too long to hold.
class DoseTally {
public:
    void add(const DoseRecord& record);
    DoseStats stats(int decimals) const;

private:
    int count_ = 0;
    long double sum_ = 0;
    long double sumSquares_ = 0;
    long double deviationSum_ = 0;
    int withTarget_ = 0;
    qint64 low_ = 0;
    qint64 high_ = 0;
    int below_ = 0;
    int above_ = 0;
};

// The fine cut-off that would have brought the mean final weight of the last
// kSuggestionCycles complete cycles at the setpoints in force onto the theoretical
// weight: fine + theoretical - mean final, rounded to the display step. Nothing until
// there are that many.
constexpr int kSuggestionCycles = 5;
std::optional<qint64> suggestedFine(std::span<const DoseRecord> records,
                                    const DoseSetpoints& inForce);

Q_DECLARE_METATYPE(DoseRecord)
