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

namespace {

constexpr int kMostFields = 11;
constexpr qint64 kDayMs = 86400000;

// The line's fields in `fields`, their number returned; one more than kMostFields when
// there are more. One pass over the bytes: this runs for every line of a record of years.
int splitDoseFields(QByteArrayView line, std::array<QByteArrayView, kMostFields>& fields) {
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    const char* start = begin;
    int count = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p != ';') continue;
        if (count == kMostFields - 1) return kMostFields + 1;
        fields[static_cast<size_t>(count++)] = QByteArrayView(start, p - start);
        start = p + 1;
    }
    fields[static_cast<size_t>(count++)] = QByteArrayView(start, end - start);
    return count;
}

// The same bytes as the line before give the same text, shared, with no decoding.
const QString& sharedText(QByteArrayView bytes, QByteArray& heldBytes, QString& held) {
    if (bytes != QByteArrayView(heldBytes)) {
        heldBytes = bytes.toByteArray();
        held = QString::fromUtf8(heldBytes);
    }
    return held;
}

}  // namespace

DoseLineParser::DoseLineParser(DateOrder order, int decimals)
    : dates_(order), decimals_(decimals) {}

bool DoseLineParser::day(QByteArrayView line, qint64& ms) {
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    for (const char* p = begin; p < end; ++p)
        if (*p == ';') return dates_.dayStart(QByteArrayView(begin, p - begin), ms);
    return false;
}

bool DoseLineParser::parse(QByteArrayView line, DoseRecord& r) {
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r')) line.chop(1);
    std::array<QByteArrayView, kMostFields> fields;
    const int count = splitDoseFields(line, fields);
    if (count != 9 && count != 11) return false;
    qint64 day = 0;
    const auto start = parseLogTime(fields[1]);
    const auto end = parseLogTime(fields[2]);
    if (!dates_.dayStart(fields[0], day) || !start || !end) return false;
    if (start->twelveHour) dates_.noteTwelveHour();
    r.start = fromLogClock(day + start->msOfDay);
    // A cycle that ends past midnight ends on the day after its date.
    r.end = fromLogClock(day + (end->msOfDay < start->msOfDay ? kDayMs : 0) + end->msOfDay);
    std::optional<qint64> fine;
    std::optional<qint64> deviation;
    if (!parseSteps(fields[3], decimals_, &r.target) ||
        !parseSteps(fields[4], decimals_, &r.coarse) || !parseSteps(fields[5], decimals_, &fine) ||
        !parseSteps(fields[6], decimals_, &r.finalNet) ||
        !parseSteps(fields[7], decimals_, &deviation) || !fine)
        return false;
    r.fine = *fine;
    const auto result = std::find_if(kResultTexts.begin(), kResultTexts.end(), [&](const auto& p) {
        return fields[8] == QByteArrayView(p.second);
    });
    if (result == kResultTexts.end()) return false;
    r.result = result->first;
    // An Incompleta with a weight, an OK without one, a deviation that is not the
    // difference: not a line the station wrote.
    if (r.finalNet.has_value() == (r.result == DoseResult::Incompleta)) return false;
    if (deviation != r.deviation()) return false;
    if (count == 11) {
        if (!r.trace) r.trace.emplace();
        r.trace->product = sharedText(fields[9], productBytes_, product_);
        r.trace->lot = sharedText(fields[10], lotBytes_, lot_);
    } else {
        r.trace.reset();
    }
    return true;
}

std::optional<DoseRecord> parseDoseLine(QByteArrayView line, DateOrder order, int decimals) {
    DoseRecord record;
    if (!DoseLineParser(order, decimals).parse(line, record)) return std::nullopt;
    return record;
}

void DoseTally::add(const DoseRecord& r) {
    if (!r.finalNet) return;
    const qint64 v = *r.finalNet;
    low_ = count_ == 0 ? v : std::min(low_, v);
    high_ = count_ == 0 ? v : std::max(high_, v);
    ++count_;
    sum_ += v;
    sumSquares_ += static_cast<long double>(v) * v;
    if (const auto d = r.deviation()) {
        deviationSum_ += *d;
        ++withTarget_;
    }
    if (r.result == DoseResult::Falta) ++below_;
    if (r.result == DoseResult::Exceso) ++above_;
}

DoseStats DoseTally::stats(int decimals) const {
    DoseStats s;
    s.count = count_;
    s.below = below_;
    s.above = above_;
    s.outOfTolerance = below_ + above_;
    if (count_ == 0) return s;
    // Summed in steps, turned into weights once.
    const auto weight = [decimals](long double steps) {
        return stepsWeight(static_cast<double>(steps), decimals);
    };
    const long double mean = sum_ / count_;
    s.meanFinal = weight(mean);
    if (count_ > 1) {
        const long double variance = (sumSquares_ - sum_ * mean) / (count_ - 1);
        s.stdDev = weight(std::sqrt(std::max(0.0L, variance)));
    }
    s.minFinal = weight(low_);
    s.maxFinal = weight(high_);
    if (withTarget_ > 0) s.meanDeviation = weight(deviationSum_ / withTarget_);
    s.outOfTolerancePercent = 100.0 * s.outOfTolerance / count_;
    s.totalDosed = weight(sum_);
    return s;
}

DoseStats doseStats(std::span<const DoseRecord> records, int decimals) {
    DoseTally tally;
    for (const DoseRecord& r : records) tally.add(r);
    return tally.stats(decimals);
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
    DoseLineParser parser(order, decimals);
    DoseRecord record;
    for (const QByteArray& line : lines)
        if (parser.parse(line, record)) records << record;
    return records;
}
