#include "report_data.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>

#include "block_reader.h"
#include "command_options.h"
#include "cycle_detector.h"
#include "lee_ini.h"
#include "log_reader.h"
#include "product_table.h"
#include "record_paths.h"
#include "startup_config.h"
#include "verify_command.h"
#include "weight_format.h"

namespace {

constexpr qint64 kDayMs = 86400000;
constexpr int kChartBuckets = 400;
constexpr size_t kDosesPerBlock = kLogBlockBytes / 48;  // the shortest lines the station writes

qint64 startMs(const DoseRecord& r) {
    return r.start.toMSecsSinceEpoch();
}

// A lot as the station counts it: from the moment it was set (a change of its name or
// of its planned doses starts the count again) to the next such change.
struct LotSpan {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QString lot;
    int planned = 0;
    int done = 0;
    bool completed = false;
};

// One record's doses over [fromMs, toMs); lines of days outside it are not read at all.
struct DoseBlock {
    std::vector<DoseRecord> doses;
    qint64 lines = 0;
    qint64 unreadable = 0;
    qint64 firstUnreadable = 0;
    DateEvidence evidence;
};

class DoseBlockParser {
public:
    using Block = DoseBlock;
    DoseBlockParser(DateOrder order, int decimals, qint64 fromMs, qint64 toMs)
        : parser_(order, decimals), fromMs_(fromMs), toMs_(toMs) {}

    void begin(DoseBlock& block) {
        parser_.takeEvidence();
        block.doses.clear();
        // Room for a whole block of doses from the start: grown a line at a time, each
        // block's vector would be copied a dozen times over.
        block.doses.reserve(kDosesPerBlock);
        block.lines = 0;
        block.unreadable = 0;
        block.firstUnreadable = 0;
    }
    void line(QByteArrayView line, DoseBlock& block) {
        ++block.lines;
        qint64 day = 0;
        // A dose begins on its line's date.
        if (parser_.day(line, day) && (day + kDayMs <= fromMs_ || day >= toMs_)) return;
        if (parser_.parse(line, record_)) {
            const qint64 ms = startMs(record_);
            if (ms >= fromMs_ && ms < toMs_) block.doses.push_back(std::move(record_));
        } else if (!line.trimmed().isEmpty() && block.unreadable++ == 0) {
            block.firstUnreadable = block.lines;
        }
    }
    void end(DoseBlock& block) { block.evidence = parser_.takeEvidence(); }

private:
    DoseLineParser parser_;
    DoseRecord record_;
    qint64 fromMs_;
    qint64 toMs_;
};

// Where a module's figures go while its record is read.
class ModuleFold {
public:
    ModuleFold(ModuleReport& module, const ReportPeriod& period, std::vector<LotSpan>& lots,
               const QHash<QString, double>& productTolerances, double moduleTolerance)
        : m_(module),
          period_(period),
          lots_(lots),
          productTolerances_(productTolerances),
          moduleTolerance_(moduleTolerance) {}

    void add(const DoseRecord& dose) {
        const qint64 ms = startMs(dose);
        countForLot(dose, ms);
        if (ms < period_.fromMs || ms >= period_.toMs) return;
        static const DoseTrace kNone;
        const DoseTrace& trace = dose.trace ? *dose.trace : kNone;
        const QString& product = trace.product;
        const QString& lot = trace.lot;
        DoseGroup& group = groupOf(product, lot);
        ProductChart& chart = chartOf(product);
        if (!dose.finalNet) {
            ++group.incomplete;
            return;
        }
        group.tally.add(dose);
        noteTarget(dose, group.target, group.mixedTargets);
        noteTarget(dose, chart.target, chart.mixedTargets);
        ++chart.finals[*dose.finalNet];
        auto& series = outOfTolerance(dose) ? chart.outside : chart.within;
        if (!series) series.emplace(ms, 1000, kChartBuckets);
        const double weight = stepsWeight(static_cast<double>(*dose.finalNet), m_.decimals);
        series->add(ms, weight, weight);
    }

private:
    static void noteTarget(const DoseRecord& dose, std::optional<qint64>& target, bool& mixed) {
        if (!dose.target) return;
        if (target && *target != *dose.target) mixed = true;
        if (!target) target = dose.target;
    }

    std::optional<double> toleranceOf(const QString& product) const {
        const double t = productTolerances_.value(product, moduleTolerance_);
        return t > 0 ? std::optional<double>(t) : std::nullopt;
    }

    DoseGroup& groupOf(const QString& product, const QString& lot) {
        if (lastGroup_ >= 0 && m_.groups[size_t(lastGroup_)].product == product &&
            m_.groups[size_t(lastGroup_)].lot == lot)
            return m_.groups[size_t(lastGroup_)];
        const QString key = product + QChar(0x1f) + lot;
        auto it = groupIndex_.find(key);
        if (it == groupIndex_.end()) {
            DoseGroup group;
            group.product = product;
            group.lot = lot;
            group.tolerancePercent = toleranceOf(product);
            m_.groups.push_back(group);
            it = groupIndex_.insert(key, int(m_.groups.size()) - 1);
        }
        lastGroup_ = *it;
        return m_.groups[size_t(lastGroup_)];
    }

    ProductChart& chartOf(const QString& product) {
        if (lastChart_ >= 0 && m_.charts[size_t(lastChart_)].product == product)
            return m_.charts[size_t(lastChart_)];
        auto it = chartIndex_.find(product);
        if (it == chartIndex_.end()) {
            ProductChart chart;
            chart.product = product;
            chart.tolerancePercent = toleranceOf(product);
            m_.charts.push_back(std::move(chart));
            it = chartIndex_.insert(product, int(m_.charts.size()) - 1);
        }
        lastChart_ = *it;
        return m_.charts[size_t(lastChart_)];
    }

    // As the station counts a lot's doses: the complete ones that began while it was set.
    void countForLot(const DoseRecord& dose, qint64 ms) {
        if (!dose.finalNet || !dose.trace || dose.trace->lot.isEmpty()) return;
        const auto span = std::upper_bound(lots_.begin(), lots_.end(), ms,
                                           [](qint64 t, const LotSpan& s) { return t < s.fromMs; });
        if (span == lots_.begin()) return;
        LotSpan& lot = *std::prev(span);
        if (ms >= lot.toMs || lot.lot != dose.trace->lot || lot.planned <= 0 || lot.completed)
            return;
        if (++lot.done < lot.planned) return;
        lot.completed = true;
        const qint64 at = dose.end.toMSecsSinceEpoch();
        if (at >= period_.fromMs && at < period_.toMs)
            m_.lots.push_back({lot.lot, dose.trace->product, lot.done, at});
    }

    ModuleReport& m_;
    const ReportPeriod& period_;
    std::vector<LotSpan>& lots_;
    const QHash<QString, double>& productTolerances_;
    double moduleTolerance_;
    QHash<QString, int> groupIndex_;
    QHash<QString, int> chartIndex_;
    int lastGroup_ = -1;
    int lastChart_ = -1;
};

// When a change was made, on the records' clock; none for a line that does not read.
std::optional<qint64> changeTime(const ChangeLine& line, DateOrder order) {
    const auto fields = parseLogDate(line.fecha.toLatin1());
    const auto date = fields ? resolveDate(*fields, order) : std::nullopt;
    const auto time = parseLogTime(line.hora.toLatin1());
    if (!date || !time) return std::nullopt;
    return logMs(*date, time->msOfDay);
}

// Cambios.csv: its verdict, the period's changes and the spans of its lots.
std::optional<QString> readChanges(const QString& path, const QString& shownPath, DateOrder order,
                                   ModuleReport& module, std::vector<LotSpan>& lots,
                                   const ReportPeriod& period) {
    QFile file(path);
    if (!file.exists()) return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) return cannotRead(shownPath, file.errorString());
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    module.chainVerdict = chainVerdict(shownPath, checkChain(buffer));
    LotSpan current;
    for (QByteArray text : bytes.split('\n')) {
        if (text.endsWith('\r')) text.chop(1);
        const auto line = readChangeLine(text);
        const auto ms = line ? changeTime(*line, order) : std::nullopt;
        if (!ms) continue;
        if (*ms >= period.fromMs && *ms < period.toMs) module.changes.push_back({*ms, *line});
        const bool lotName = line->campo == QLatin1String("Lote");
        if (!lotName && line->campo != QLatin1String("Dosis planificadas")) continue;
        if (lotName)
            current.lot = line->valor;
        else
            current.planned = line->valor.toInt();
        if (current.lot.isEmpty()) current.planned = 0;
        current.fromMs = *ms;
        // The name and the count typed together are one lot.
        if (!lots.empty() && lots.back().fromMs == *ms) lots.pop_back();
        if (!lots.empty()) lots.back().toMs = *ms;
        current.toMs = std::numeric_limits<qint64>::max();
        lots.push_back(current);
    }
    return std::nullopt;
}

// Where the dose record must be read from for the period's figures and for the lots
// that may end in it.
qint64 readFrom(const std::vector<LotSpan>& lots, const ReportPeriod& period) {
    qint64 from = period.fromMs;
    for (const LotSpan& lot : lots)
        if (lot.planned > 0 && lot.fromMs < period.toMs && lot.toMs > period.fromMs)
            from = std::min(from, lot.fromMs);
    return from;
}

// The places the record's weights are written with: the first dose's theoretical weight.
int writtenDecimals(QFile& file) {
    int places = 0;
    forEachLine(file, [&](QByteArrayView line, qint64) {
        const QList<QByteArray> fields = line.toByteArray().split(';');
        return fields.size() < 4 || !parseLogNumber(fields[3], &places);
    });
    file.seek(0);
    return places;
}

void sortModule(ModuleReport& m) {
    // By product, doses without one last, then by lot.
    const auto before = [](const QString& a, const QString& b) {
        if (a.isEmpty() != b.isEmpty()) return b.isEmpty();
        return QString::localeAwareCompare(a, b) < 0;
    };
    std::stable_sort(m.groups.begin(), m.groups.end(), [&](const DoseGroup& a, const DoseGroup& b) {
        if (a.product != b.product) return before(a.product, b.product);
        return QString::localeAwareCompare(a.lot, b.lot) < 0;
    });
    std::stable_sort(
        m.charts.begin(), m.charts.end(),
        [&](const ProductChart& a, const ProductChart& b) { return before(a.product, b.product); });
    std::sort(m.changes.begin(), m.changes.end(),
              [](const PeriodChange& a, const PeriodChange& b) { return a.ms < b.ms; });
}

std::optional<QString> readDoses(const QString& path, const QString& shownPath,
                                 ModuleReport& module, std::vector<LotSpan>& lots,
                                 const ReportPeriod& period,
                                 const QHash<QString, double>& tolerances, double moduleTolerance,
                                 bool iniDecimals, DateOrder& order) {
    QFile file(path);
    if (!file.exists()) return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) return cannotRead(shownPath, file.errorString());
    if (!iniDecimals) module.decimals = writtenDecimals(file);
    const qint64 from = readFrom(lots, period);
    const std::vector<LotSpan> lotsBefore = lots;
    // Read first in the likelier order; a record its own dates say is written in the
    // other one is read again.
    for (;;) {
        const ModuleReport empty = module;
        DateEvidence evidence;
        ModuleFold fold(module, period, lots, tolerances, moduleTolerance);
        qint64 linesBefore = 0;
        const bool whole = readBlocks<DoseBlockParser>(
            file, [&] { return DoseBlockParser(order, module.decimals, from, period.toMs); },
            [&](const DoseBlock& block) {
                if (block.unreadable > 0 && module.unreadable == 0)
                    module.firstUnreadable = linesBefore + block.firstUnreadable;
                module.unreadable += block.unreadable;
                linesBefore += block.lines;
                for (const DoseRecord& dose : block.doses) fold.add(dose);
                evidence.follow(block.evidence);
                return evidence.firstHint == DateOrder::Unknown || evidence.firstHint == order;
            });
        if (!whole) return cannotRead(shownPath, file.errorString());
        const DateOrder fileOrder = evidence.order(order);
        if (fileOrder == order) return std::nullopt;
        order = fileOrder;
        module = empty;
        lots = lotsBefore;
    }
}

}  // namespace

std::optional<ToleranceLimits> toleranceLimits(std::optional<qint64> target, bool mixed,
                                               std::optional<double> tolerancePercent,
                                               int decimals) {
    if (!target || mixed || !tolerancePercent || *tolerancePercent <= 0) return std::nullopt;
    const double t = stepsWeight(static_cast<double>(*target), decimals);
    const double reach = std::abs(t) * *tolerancePercent / 100;
    return ToleranceLimits{t, t - reach, t + reach};
}

std::optional<double> capabilityIndex(const DoseStats& stats, const ToleranceLimits& limits) {
    if (stats.count < 2 || stats.stdDev <= 0) return std::nullopt;
    return std::min(limits.high - stats.meanFinal, stats.meanFinal - limits.low) /
           (3 * stats.stdDev);
}

qint64 ReportData::doses() const {
    qint64 n = 0;
    for (const ModuleReport& m : modules)
        for (const DoseGroup& g : m.groups) n += g.tally.stats(m.decimals).count + g.incomplete;
    return n;
}

std::variant<ReportData, QString> readReport(const QDir& folder, const ReportPeriod& period) {
    ReportData data;
    data.folder = folder.absolutePath();
    data.period = period;
    const bool hasIni = !findIniFile(folder).isEmpty();
    if (const QString problem = iniFileProblem(folder); !problem.isEmpty()) return problem;
    const auto count = readModuleCount(folder);
    if (const auto* e = std::get_if<ConfigError>(&count)) return e->message;
    int last = std::get<int>(count);
    for (int n = last + 1; n <= kMaxModules; ++n)
        if (folder.exists(moduleFolderName(n))) last = n;

    QHash<QString, double> tolerances;
    QFile table(folder.filePath(kProductsFile));
    if (table.open(QIODevice::ReadOnly))
        for (const Product& p : parseProductTable(table.readAll()).products)
            if (p.tolerancePercent) tolerances.insert(p.name, *p.tolerancePercent);

    for (int n = 1; n <= last; ++n) {
        const ModuleRecords records = moduleRecords(folder, n);
        if (!QFile::exists(records.doses()) && !QFile::exists(records.changes())) continue;
        ModuleReport module;
        module.number = n;
        module.name = readModuleName(n, folder);
        module.folderName = moduleFolderName(n);
        const auto decimals = readModuleDecimals(n, folder);
        if (const auto* e = std::get_if<ConfigError>(&decimals)) return e->message;
        module.decimals = std::get<int>(decimals);
        const auto tolerance = readModuleTolerance(n, folder);
        if (const auto* e = std::get_if<ConfigError>(&tolerance)) return e->message;
        const auto shown = [&](const QString& name) {
            return module.folderName.isEmpty() ? name : module.folderName + u'/' + name;
        };
        module.dosesPath = shown(kDosesFile);
        std::vector<LotSpan> lots;
        DateOrder order = systemDateOrder();
        if (auto error =
                readChanges(records.changes(), shown(kChangesFile), order, module, lots, period))
            return *error;
        if (auto error = readDoses(records.doses(), module.dosesPath, module, lots, period,
                                   tolerances, std::get<double>(tolerance), hasIni, order))
            return *error;
        sortModule(module);
        data.modules.push_back(std::move(module));
    }
    return data;
}
