#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "usage_error.h"

// vormelq --cycles Peso.csv --zero-band Z --fine F [--coarse C] [--target T
//         --tolerance P] [-o ciclos.csv]
// The log has no setpoints, so they are given, as the module shows them (weights).
struct CyclesOptions {
    QString logPath;
    QString outputPath;  // stdout when empty
    double zeroBand = 0;
    double fine = 0;
    std::optional<double> coarse;
    std::optional<double> target;
    double tolerancePercent = 0;
};

// The arguments after the program's name.
std::variant<CyclesOptions, UsageError> parseCyclesArguments(const QStringList& args);

// Finds the cycles of the log and writes one Dosificaciones.csv line for each that
// ended in it: 0 when done, also without a cycle; 1, as for --plot, when the log cannot
// be read or has no line that reads, or the output cannot be written. Unreadable lines
// are skipped and counted on stderr.
int runCycles(const CyclesOptions& options);
