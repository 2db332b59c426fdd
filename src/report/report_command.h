#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <variant>

#include "report_period.h"
#include "usage_error.h"

// vormelq --informe [CARPETA] [--desde "AAAA-MM-DD HH:MM"] [--hasta ...] [--turno N]
//                   [-o informe.pdf] [--csv resumen.csv]
struct ReportOptions {
    QString folder = QStringLiteral(".");
    std::optional<qint64> fromMs;  // the records' clock
    std::optional<qint64> toMs;
    std::optional<int> shift;  // --turno: its last ended occurrence
    QString outputPath = QStringLiteral("informe.pdf");
    QString csvPath;  // none: no summary table
};

// The arguments after the program's name.
std::variant<ReportOptions, UsageError> parseReportArguments(const QStringList& args);

// The period the options ask for at `nowMs`: the dates typed, the last ended
// occurrence of --turno's shift, else the last shift that ended (the last 24 hours
// without [Turnos]). An error line when modbus.ini's shifts cannot be used.
std::variant<ReportPeriod, QString> reportPeriod(const ReportOptions& options, qint64 nowMs);

// The report of `folder` over `period` written to `pdfPath` (and the summary to
// `csvPath` when given): empty, or the line saying which file could not be read or
// written, or that the period holds nothing. Lines of a record that do not read are
// told to `skipped`, when given. Needs a QGuiApplication.
QString writeReport(const QDir& folder, const ReportPeriod& period, const QString& pdfPath,
                    const QString& csvPath = {},
                    const std::function<void(const QString&)>& skipped = {});

// The command as the shell runs it.
int runReport(const ReportOptions& options);
