#include "cycles_command.h"

#include <QFile>
#include <QLocale>
#include <cstdio>
#include <map>

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
    auto fail = [](const QString& text) { return UsageError{text}; };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i + 1 >= args.size()) return fail(QStringLiteral("falta el valor de %1").arg(arg));
        const QString value = args[++i];
        if (arg == QLatin1String("--cycles")) {
            options.logPath = value;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            options.outputPath = value;
        } else if (const auto number = numbers.find(arg); number != numbers.end()) {
            *number->second = parseLogNumber(value.trimmed().toLatin1());
            if (!*number->second || **number->second < 0)
                return fail(QStringLiteral("valor no válido para %1: \"%2\" (se espera un "
                                           "número no negativo)")
                                .arg(arg, value));
        } else {
            return fail(QStringLiteral("opción desconocida: %1").arg(arg));
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
        tellUser(QStringLiteral("no se puede leer %1: %2").arg(options.logPath, log.errorString()));
        return 1;
    }
    QFile out;
    const bool toFile = !options.outputPath.isEmpty();
    if (toFile) {
        out.setFileName(options.outputPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            tellUser(QStringLiteral("no se puede escribir %1: %2")
                         .arg(options.outputPath, out.errorString()));
            return 1;
        }
    } else if (!out.open(stdout, QIODevice::WriteOnly)) {
        return 1;
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
        return 1;
    }
    if (!written || !out.flush()) {
        tellUser(
            QStringLiteral("no se puede escribir %1: %2")
                .arg(toFile ? options.outputPath : QStringLiteral("la salida"), out.errorString()));
        return 1;
    }
    return 0;
}
