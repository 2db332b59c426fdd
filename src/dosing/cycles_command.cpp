#include "cycles_command.h"

#include <QFile>
#include <QLocale>
#include <cmath>
#include <cstdio>

#include "dose_record.h"
#include "log_reader.h"

namespace {

void report(const QString& text) {
    std::fprintf(stderr, "vormelq: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

qint64 steps(double value, int decimals) {
    return std::llround(value * std::pow(10.0, decimals));
}

}  // namespace

std::variant<CyclesOptions, CyclesUsageError> parseCyclesArguments(const QStringList& args) {
    CyclesOptions options;
    auto fail = [](const QString& text) { return CyclesUsageError{text}; };
    bool zeroBandGiven = false;
    bool fineGiven = false;
    bool toleranceGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i + 1 >= args.size()) return fail(QStringLiteral("falta el valor de %1").arg(arg));
        const QString value = args[++i];
        if (arg == QLatin1String("--cycles")) {
            options.logPath = value;
            continue;
        }
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            options.outputPath = value;
            continue;
        }
        const auto number = parseLogNumber(value.trimmed().toLatin1());
        if (arg == QLatin1String("--zero-band") || arg == QLatin1String("--fine") ||
            arg == QLatin1String("--coarse") || arg == QLatin1String("--target") ||
            arg == QLatin1String("--tolerance")) {
            if (!number || *number < 0)
                return fail(QStringLiteral("valor no válido para %1: \"%2\" (se espera un "
                                           "número no negativo)")
                                .arg(arg, value));
        }
        if (arg == QLatin1String("--zero-band")) {
            options.zeroBand = *number;
            zeroBandGiven = true;
        } else if (arg == QLatin1String("--fine")) {
            options.fine = *number;
            fineGiven = true;
        } else if (arg == QLatin1String("--coarse")) {
            options.coarse = number;
        } else if (arg == QLatin1String("--target")) {
            options.target = number;
        } else if (arg == QLatin1String("--tolerance")) {
            options.tolerancePercent = *number;
            toleranceGiven = true;
        } else {
            return fail(QStringLiteral("opción desconocida: %1").arg(arg));
        }
    }
    if (options.logPath.isEmpty()) return fail(QStringLiteral("falta --cycles FICHERO"));
    if (!zeroBandGiven) return fail(QStringLiteral("falta --zero-band (la banda de cero)"));
    if (!fineGiven) return fail(QStringLiteral("falta --fine (el corte fino)"));
    if (toleranceGiven && !options.target)
        return fail(QStringLiteral("--tolerance necesita --target (el peso teórico)"));
    return options;
}

int runCycles(const CyclesOptions& options) {
    QFile log(options.logPath);
    if (!log.open(QIODevice::ReadOnly)) {
        report(QStringLiteral("no se puede leer %1: %2").arg(options.logPath, log.errorString()));
        return 1;
    }
    QFile out;
    const bool toFile = !options.outputPath.isEmpty();
    if (toFile) {
        out.setFileName(options.outputPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            report(QStringLiteral("no se puede escribir %1: %2")
                       .arg(options.outputPath, out.errorString()));
            return 1;
        }
    } else if (!out.open(stdout, QIODevice::WriteOnly)) {
        return 1;
    }

    const DateOrder order = detectDateOrder(log, systemDateOrder());
    log.seek(0);
    const QLocale locale = QLocale::system();
    CycleDetector detector;
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
            detector.setSetpoints(
                {steps(options.zeroBand, *decimals), steps(options.coarse.value_or(0), *decimals),
                 steps(options.fine, *decimals), steps(options.target.value_or(0), *decimals)});
        }
        const DoseStep step = detector.feed({record->ms, true, steps(record->net, *decimals)});
        if (!step.ended) return true;
        DoseRecord dose = doseRecord(*step.ended, options.tolerancePercent);
        if (!options.target) dose.target.reset();
        if (!options.coarse) dose.coarse.reset();
        written = out.write(doseLine(dose, *decimals, locale).toLocal8Bit() + "\r\n") >= 0;
        return written;
    });
    if (unreadable > 0) report(skippedLinesNote(options.logPath, unreadable, firstUnreadable));
    if (!written || !out.flush()) {
        report(
            QStringLiteral("no se puede escribir %1: %2")
                .arg(toFile ? options.outputPath : QStringLiteral("la salida"), out.errorString()));
        return 1;
    }
    return 0;
}

std::optional<int> runCyclesCommand(const QStringList& args) {
    if (!args.contains(QLatin1String("--cycles"))) return std::nullopt;
    const auto parsed = parseCyclesArguments(args);
    if (const auto* usage = std::get_if<CyclesUsageError>(&parsed)) {
        report(usage->message);
        std::fprintf(stderr,
                     "uso: vormelq --cycles Peso.csv --zero-band Z --fine F [--coarse C] "
                     "[--target T --tolerance P] [-o ciclos.csv]\n");
        return 2;
    }
    return runCycles(std::get<CyclesOptions>(parsed));
}
