#include "report_command.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "command_options.h"
#include "console.h"
#include "cycle_detector.h"
#include "log_parse.h"
#include "log_reader.h"
#include "report_data.h"
#include "report_figures.h"
#include "report_pdf.h"

namespace {

// The folder may follow --informe; it is the one argument that is no option.
QStringList withoutFolder(QStringList args, QString& folder) {
    const qsizetype at = args.indexOf(QStringLiteral("--informe"));
    if (at >= 0 && at + 1 < args.size() && !args[at + 1].startsWith(u'-'))
        folder = args.takeAt(at + 1);
    return args;
}

// Nothing in the period: what was looked at, so the user can tell a wrong folder from a
// quiet shift.
QString nothingText(const QDir& folder, const ReportPeriod& period) {
    return QStringLiteral("%1: ninguna dosificación ni cambio en el periodo (%2)")
        .arg(QDir::toNativeSeparators(folder.path()), periodText(period, QLocale::system()));
}

bool anyChange(const ReportData& data) {
    for (const ModuleReport& m : data.modules)
        if (!m.changes.empty()) return true;
    return false;
}

QString writeSummary(const QString& path, const ReportData& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(path, file.errorString());
    file.write(summaryTable(data, QLocale::system()));
    if (!file.commit()) return cannotWrite(path, file.errorString());
    return {};
}

// A report of a year builds and frees a page's text, its compressed stream and the
// compressor's tables two hundred times, each larger than the allocator's threshold for
// mapping memory of its own: every one came from the kernel as fresh zeroed pages and went
// back. The command runs once and ends, so it keeps what it frees for the next page (a
// quarter of the year's time, a few megabytes more at the peak).
void keepFreedMemory() {
#ifdef __GLIBC__
    constexpr int kMapAbove = 32 << 20;
    constexpr int kTrimAbove = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, kMapAbove);
    mallopt(M_TRIM_THRESHOLD, kTrimAbove);
#endif
}

}  // namespace

std::variant<ReportOptions, UsageError> parseReportArguments(const QStringList& args) {
    ReportOptions options;
    const auto given = readOptions(withoutFolder(args, options.folder), {{{"--informe"}, false},
                                                                         {{"--desde"}},
                                                                         {{"--hasta"}},
                                                                         {{"--turno"}},
                                                                         {{"-o", "--output"}},
                                                                         {{"--csv"}}});
    if (const auto* usage = std::get_if<UsageError>(&given)) return *usage;
    for (const auto& [name, value] : std::get<QList<GivenOption>>(given)) {
        if (name == u"--desde" || name == u"--hasta") {
            const auto when = parseCommandTime(value);
            if (!when) return invalidTime(name, value);
            (name == u"--desde" ? options.fromMs : options.toMs) = logClockMs(*when);
        } else if (name == u"--turno") {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > kMostShifts)
                return invalidValue(name, value,
                                    QStringLiteral("un turno de 1 a %1").arg(kMostShifts));
            options.shift = n;
        } else if (name == u"-o") {
            options.outputPath = value;
        } else if (name == u"--csv") {
            options.csvPath = value;
        }
    }
    if (options.shift && (options.fromMs || options.toMs))
        return UsageError{QStringLiteral("--turno no va con --desde ni --hasta")};
    if (options.fromMs && options.toMs && *options.toMs <= *options.fromMs)
        return UsageError{QStringLiteral("--hasta ha de ser posterior a --desde")};
    return options;
}

std::variant<ReportPeriod, QString> reportPeriod(const ReportOptions& options, qint64 nowMs) {
    if (options.fromMs || options.toMs)
        return ReportPeriod{options.fromMs.value_or(0), options.toMs.value_or(nowMs), {}};
    const auto shifts = readShifts(QDir(options.folder));
    if (const auto* error = std::get_if<QString>(&shifts)) return *error;
    const QList<Shift>& list = std::get<QList<Shift>>(shifts);
    if (!options.shift) return defaultPeriod(list, nowMs);
    for (const Shift& shift : list)
        if (shift.number == *options.shift) return lastEnded(shift, nowMs);
    return QStringLiteral("modbus.ini no tiene Turno%1 en [Turnos]").arg(*options.shift);
}

QString writeReport(const QDir& folder, const ReportPeriod& period, const QString& pdfPath,
                    const QString& csvPath, const std::function<void(const QString&)>& skipped) {
    const auto read = readReport(folder, period);
    if (const auto* error = std::get_if<QString>(&read)) return *error;
    const ReportData& data = std::get<ReportData>(read);
    for (const ModuleReport& m : data.modules)
        if (m.unreadable > 0 && skipped)
            skipped(skippedLinesNote(m.dosesPath, m.unreadable, m.firstUnreadable));
    if (data.doses() == 0 && !anyChange(data)) return nothingText(folder, period);
    if (QString error =
            writeReportPdf(pdfPath, data, QLocale::system(), QDateTime::currentDateTime());
        !error.isEmpty())
        return error;
    if (!csvPath.isEmpty()) return writeSummary(csvPath, data);
    return {};
}

int runReport(const ReportOptions& options) {
    keepFreedMemory();
    const QDir folder(options.folder);
    if (!folder.exists()) {
        tellUser(cannotRead(options.folder, QStringLiteral("no existe la carpeta")));
        return kCommandFailed;
    }
    const auto period = reportPeriod(options, nowLogMs());
    if (const auto* error = std::get_if<QString>(&period)) {
        tellUser(*error);
        return kCommandFailed;
    }
    const QString error = writeReport(folder, std::get<ReportPeriod>(period), options.outputPath,
                                      options.csvPath, [](const QString& note) { tellUser(note); });
    if (error.isEmpty()) return 0;
    tellUser(error);
    return kCommandFailed;
}
