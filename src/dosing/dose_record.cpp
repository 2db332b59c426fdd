#include "dose_record.h"

#include <QByteArrayList>
#include <algorithm>
#include <array>
#include <cmath>

#include "weight_format.h"
#include "weight_log.h"

namespace {

constexpr std::array<std::pair<DoseResult, const char*>, 5> kResultTexts{{
    {DoseResult::Ok, "OK"},
    {DoseResult::Falta, "Falta"},
    {DoseResult::Exceso, "Exceso"},
    {DoseResult::Hecha, "Hecha"},
    {DoseResult::Incompleta, "Incompleta"},
}};

QString weightText(std::optional<qint64> steps, int decimals, const QLocale& locale) {
    return steps
               ? formatWeight(stepsWeight(static_cast<double>(*steps), decimals), decimals, locale)
               : QString();
}

// Empty fields are values not known; anything else must be a number.
bool parseSteps(QByteArrayView text, int decimals, std::optional<qint64>* steps) {
    if (text.isEmpty()) {
        steps->reset();
        return true;
    }
    const auto value = parseLogNumber(text);
    if (!value) return false;
    *steps = displaySteps(*value, decimals);
    return true;
}

}  // namespace

QString doseResultText(DoseResult result) {
    for (const auto& [value, text] : kResultTexts)
        if (value == result) return QString::fromLatin1(text);
    return {};
}

std::optional<qint64> DoseRecord::deviation() const {
    if (!finalNet || !target) return std::nullopt;
    return *finalNet - *target;
}

std::optional<double> DoseRecord::deviationPercent() const {
    const auto off = deviation();
    if (!off || *target == 0) return std::nullopt;
    return 100.0 * static_cast<double>(*off) / static_cast<double>(*target);
}

bool outOfTolerance(const DoseRecord& record) {
    return record.result == DoseResult::Falta || record.result == DoseResult::Exceso;
}

DoseResult doseResult(qint64 finalNet, qint64 target, double tolerancePercent) {
    if (tolerancePercent <= 0) return DoseResult::Hecha;
    // Steps x 100 against theoretical x percent; the relative slack keeps a deviation
    // right at the limit (5 steps off 1000 at 0.5 %) inside it whatever the binary
    // rounding of the percentage.
    const double limit = std::abs(static_cast<double>(target)) * tolerancePercent;
    const double off = 100.0 * static_cast<double>(finalNet - target);
    constexpr double kSlack = 1e-12;
    if (std::abs(off) <= limit * (1 + kSlack)) return DoseResult::Ok;
    return off < 0 ? DoseResult::Falta : DoseResult::Exceso;
}

DoseRecord doseRecord(const DoseCycle& cycle, double tolerancePercent, DoseClock timeOf) {
    DoseRecord record;
    record.start = timeOf(cycle.startMs);
    record.end = timeOf(cycle.endMs);
    record.target = cycle.setpoints.target;
    record.coarse = cycle.setpoints.coarse;
    record.fine = cycle.setpoints.fine;
    if (cycle.complete()) {
        record.finalNet = cycle.finalNet;
        record.result = doseResult(*cycle.finalNet, cycle.setpoints.target, tolerancePercent);
    }
    return record;
}

QString doseLine(const DoseRecord& r, int decimals, const QLocale& locale) {
    QStringList fields{
        logDate(r.start, locale),
        logTime(r.start, locale),
        logTime(r.end, locale),
        weightText(r.target, decimals, locale),
        weightText(r.coarse, decimals, locale),
        weightText(r.fine, decimals, locale),
        weightText(r.finalNet, decimals, locale),
        weightText(r.deviation(), decimals, locale),
        doseResultText(r.result),
    };
    if (r.trace) fields << r.trace->product << r.trace->lot;
    return fields.join(QLatin1Char(';'));
}

std::optional<DoseRecord> parseDoseLine(QByteArrayView line, DateOrder order, int decimals) {
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r')) line.chop(1);
    const QByteArrayList fields = line.toByteArray().split(';');
    if (fields.size() != 9 && fields.size() != 11) return std::nullopt;
    const auto dateFields = parseLogDate(fields[0]);
    const auto date = dateFields ? resolveDate(*dateFields, order) : std::nullopt;
    const auto start = parseLogTime(fields[1]);
    const auto end = parseLogTime(fields[2]);
    if (!date || !start || !end) return std::nullopt;

    DoseRecord r;
    r.start = fromLogClock(logMs(*date, start->msOfDay));
    r.end =
        fromLogClock(logMs(end->msOfDay < start->msOfDay ? date->addDays(1) : *date, end->msOfDay));
    std::optional<qint64> fine;
    std::optional<qint64> deviation;
    if (!parseSteps(fields[3], decimals, &r.target) ||
        !parseSteps(fields[4], decimals, &r.coarse) || !parseSteps(fields[5], decimals, &fine) ||
        !parseSteps(fields[6], decimals, &r.finalNet) ||
        !parseSteps(fields[7], decimals, &deviation) || !fine)
        return std::nullopt;
    r.fine = *fine;
    const auto result = std::find_if(kResultTexts.begin(), kResultTexts.end(), [&](const auto& p) {
        return fields[8] == QByteArrayView(p.second);
    });
    if (result == kResultTexts.end()) return std::nullopt;
    r.result = result->first;
    // An Incompleta with a weight, an OK without one, a deviation that is not the
    // difference: not a line the station wrote.
    if (r.finalNet.has_value() == (r.result == DoseResult::Incompleta)) return std::nullopt;
    if (deviation != r.deviation()) return std::nullopt;
    if (fields.size() == 11)
        r.trace = DoseTrace{QString::fromUtf8(fields[9]), QString::fromUtf8(fields[10])};
    return r;
}

DoseStats doseStats(std::span<const DoseRecord> records, int decimals) {
    DoseStats s;
    long double sum = 0;
    long double sumSquares = 0;
    long double deviationSum = 0;
    int withTarget = 0;
    qint64 low = 0;
    qint64 high = 0;
    for (const DoseRecord& r : records) {
        if (!r.finalNet) continue;
        const qint64 v = *r.finalNet;
        low = s.count == 0 ? v : std::min(low, v);
        high = s.count == 0 ? v : std::max(high, v);
        ++s.count;
        sum += v;
        sumSquares += static_cast<long double>(v) * v;
        if (const auto d = r.deviation()) {
            deviationSum += *d;
            ++withTarget;
        }
        if (outOfTolerance(r)) ++s.outOfTolerance;
    }
    if (s.count == 0) return s;
    // Summed in steps, turned into weights once.
    const auto weight = [decimals](long double steps) {
        return stepsWeight(static_cast<double>(steps), decimals);
    };
    const long double mean = sum / s.count;
    s.meanFinal = weight(mean);
    if (s.count > 1) {
        const long double variance = (sumSquares - sum * mean) / (s.count - 1);
        s.stdDev = weight(std::sqrt(std::max(0.0L, variance)));
    }
    s.minFinal = weight(low);
    s.maxFinal = weight(high);
    if (withTarget > 0) s.meanDeviation = weight(deviationSum / withTarget);
    s.outOfTolerancePercent = 100.0 * s.outOfTolerance / s.count;
    s.totalDosed = weight(sum);
    return s;
}

std::optional<qint64> suggestedFine(std::span<const DoseRecord> records,
                                    const DoseSetpoints& inForce) {
    long double sum = 0;
    int count = 0;
    for (auto r = records.rbegin(); r != records.rend() && count < kSuggestionCycles; ++r) {
        if (!r->finalNet || r->target != inForce.target || r->coarse != inForce.coarse ||
            r->fine != inForce.fine)
            continue;
        sum += *r->finalNet;
        ++count;
    }
    if (count < kSuggestionCycles) return std::nullopt;
    return std::llround(static_cast<long double>(inForce.fine + inForce.target) - sum / count);
}

QList<DoseRecord> doseHistory(const QByteArrayList& lines, DateOrder order, int decimals) {
    QList<DoseRecord> records;
    for (const QByteArray& line : lines)
        if (auto record = parseDoseLine(line, order, decimals)) records << *record;
    return records;
}
