#include "cycles_command.h"

#include <QFile>
#include <QLocale>
#include <cstdio>
#include <map>

#include "command_options.h"
#include "console.h"
#include "dose_record.h"
#include "log_reader.h"

namespace {

// The setpoints a log does not hold, as the module would give them.
Setpoints givenSetpoints(const CyclesOptions& options) {
    Setpoints given;
    given.zeroBand = options.zeroBand;
    given.coarse = options.coarse.value_or(0);
    given.fine = options.fine;
    given.target = options.target.value_or(0);
    return given;
}

}  // namespace

std::variant<CyclesOptions, UsageError> parseCyclesArguments(const QStringList& args) {
    CyclesOptions options;
    std::optional<double> zeroBand;
    std::optional<double> fine;
    std::optional<double> tolerance;
    const std::map<QString, std::optional<double>*> numbers = {
        {QStringLiteral("--zero-band"), &zeroBand},
        {QStringLiteral("--fine"), &fine},
        {QStringLiteral("--coarse"), &options.coarse},
        {QStringLiteral("--target"), &options.target},
        {QStringLiteral("--tolerance"), &tolerance}};
    QList<CommandOption> accepted = {{{"--cycles"}}, {{"-o", "--output"}}};
    for (const auto& number : numbers) accepted.append({{number.first}});
    const auto given = readOptions(args, accepted);
    if (const auto* usage = std::get_if<UsageError>(&given)) return *usage;
    auto fail = [](const QString& text) { return UsageError{text}; };
    for (const auto& [name, value] : std::get<QList<GivenOption>>(given)) {
        if (name == u"--cycles") {
            options.logPath = value;
        } else if (name == u"-o") {
            options.outputPath = value;
        } else {
            std::optional<double>& number = *numbers.at(name);
            number = parseLogNumber(value.trimmed().toLatin1());
            if (!number || *number < 0)
                return invalidValue(name, value, QStringLiteral("un número no negativo"));
        }
    }
    if (options.logPath.isEmpty()) return fail(QStringLiteral("falta --cycles FICHERO"));
    if (!zeroBand) return fail(QStringLiteral("falta --zero-band (la banda de cero)"));
    if (!fine) return fail(QStringLiteral("falta --fine (el corte fino)"));
    if (tolerance && !options.target)
        return fail(QStringLiteral("--tolerance necesita --target (el peso teórico)"));
    options.zeroBand = *zeroBand;
    options.fine = *fine;
    options.tolerancePercent = tolerance.value_or(0);
    return options;
}

int runCycles(const CyclesOptions& options) {
    QFile log(options.logPath);
    if (!log.open(QIODevice::ReadOnly)) {
        tellUser(cannotRead(options.logPath, log.errorString()));
        return kCommandFailed;
    }
    QFile out;
    const bool toFile = !options.outputPath.isEmpty();
    if (toFile) {
        out.setFileName(options.outputPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            tellUser(cannotWrite(options.outputPath, out.errorString()));
            return kCommandFailed;
        }
    } else if (!out.open(stdout, QIODevice::WriteOnly)) {
        return kCommandFailed;
    }

    const DateOrder order = detectDateOrder(log, systemDateOrder());
    log.seek(0);
    const QLocale locale = QLocale::system();
    CycleDetector detector(CycleDetector::kLogSettleMs);
    std::optional<int> decimals;  // the log's, from its first reading
    qint64 unreadable = 0;
    qint64 firstUnreadable = 0;
    bool written = true;
    forEachLine(log, [&](QByteArrayView line, qint64 number) {
        const auto record = parseLogLine(line, order);
        if (!record) {
            if (!line.trimmed().isEmpty() && unreadable++ == 0) firstUnreadable = number;
            return true;
        }
        if (!decimals) {
            decimals = record->decimals;
            detector.setSetpoints(doseSetpoints(givenSetpoints(options), *decimals));
        }
        const DoseStep step =
            detector.feed({record->ms, true, displaySteps(record->net, *decimals)});
        if (!step.ended) return true;
        DoseRecord dose = doseRecord(*step.ended, options.tolerancePercent, fromLogClock);
        if (!options.target) dose.target.reset();
        if (!options.coarse) dose.coarse.reset();
        written = out.write(doseLine(dose, *decimals, locale).toLocal8Bit() + "\r\n") >= 0;
        return written;
    });
    if (unreadable > 0) tellUser(skippedLinesNote(options.logPath, unreadable, firstUnreadable));
    if (!decimals) {
        tellUser(noReadingNote(options.logPath));
        return kCommandFailed;
    }
    if (!written || !out.flush()) {
        tellUser(cannotWrite(toFile ? options.outputPath : QStringLiteral("la salida"),
                             out.errorString()));
        return kCommandFailed;
    }
    return 0;
}
