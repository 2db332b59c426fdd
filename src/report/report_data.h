#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <map>
#include <optional>
#include <variant>
#include <vector>

#include "change_line.h"
#include "decimator.h"
#include "dose_record.h"
#include "report_period.h"

// What a report says of one module's records over one period, gathered in one pass over
// each record however long it is: figures and pictures hold the same memory for a shift
// as for years.

// The doses of one product and lot of a module in the period.
struct DoseGroup {
    QString product;  // empty: doses without one ("sin producto")
    QString lot;
    DoseTally tally;  // the complete doses
    int incomplete = 0;
    // The theoretical weight of its complete doses, in steps, when they all share one.
    std::optional<qint64> target;
    bool mixedTargets = false;
    std::optional<double> tolerancePercent;  // the product's, else the module's; none: 0
};

// A product's final weights in the period, for its pictures.
struct ProductChart {
    QString product;
    std::map<qint64, int> finals;      // complete doses by final weight, in steps
    std::optional<Decimator> within;   // final weights over time, within tolerance
    std::optional<Decimator> outside;  // ... and off it (Falta, Exceso)
    std::optional<qint64> target;
    bool mixedTargets = false;
    std::optional<double> tolerancePercent;
};

// A lot whose planned doses were all delivered in the period.
struct CompletedLot {
    QString lot;
    QString product;
    int doses = 0;
    qint64 atMs = 0;  // the end of its last dose
};

// A change of Cambios.csv made in the period.
struct PeriodChange {
    qint64 ms = 0;
    ChangeLine line;
};

struct ModuleReport {
    int number = 1;
    QString name;        // Nombre_n
    QString folderName;  // "" for module 1, "Modulo2"...
    int decimals = 0;
    std::vector<DoseGroup> groups;     // by product ("sin producto" last), then lot
    std::vector<ProductChart> charts;  // in the same order
    std::vector<PeriodChange> changes;
    std::optional<QString> chainVerdict;  // none without a Cambios.csv
    std::vector<CompletedLot> lots;
    qint64 unreadable = 0;  // dose lines of the period that do not read
    qint64 firstUnreadable = 0;
    QString dosesPath;  // as the report names it
};

struct ReportData {
    QString folder;
    ReportPeriod period;
    std::vector<ModuleReport> modules;
    qint64 doses() const;  // complete and incomplete, every module
};

// A module's tolerance limits for a group of doses of one theoretical weight, in weight
// units; none where no tolerance applies.
struct ToleranceLimits {
    double target = 0;
    double low = 0;
    double high = 0;
};
std::optional<ToleranceLimits> toleranceLimits(std::optional<qint64> target, bool mixed,
                                               std::optional<double> tolerancePercent,
                                               int decimals);
// The capability index: how many three-sigma spreads fit between the mean and the nearer
// limit. None for fewer than two doses or no spread.
std::optional<double> capabilityIndex(const DoseStats& stats, const ToleranceLimits& limits);

// The folder's records of every module (module 1's in the folder, module n's in Modulo<n>)
// over `period`, named and scaled as its modbus.ini says; an error line naming the file
// that cannot be read.
std::variant<ReportData, QString> readReport(const QDir& folder, const ReportPeriod& period);
