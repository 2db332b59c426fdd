#include "plot_command.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "chart_render.h"
#include "console.h"
#include "log_reader.h"
#include "log_series.h"

namespace {

std::optional<qint64> parseWhen(const QString& text) {
    for (const char* format : {"yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd"}) {
        const QDateTime when = QDateTime::fromString(text.trimmed(), QString::fromLatin1(format));
        if (when.isValid()) return logMs(when.date(), when.time().msecsSinceStartOfDay());
    }
    return std::nullopt;
}

QString timeText(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

std::variant<PlotOptions, UsageError> parsePlotArguments(const QStringList& args) {
    PlotOptions options;
    auto fail = [](const QString& text) { return UsageError{text}; };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i + 1 >= args.size()) return fail(QStringLiteral("falta el valor de %1").arg(arg));
        const QString value = args[++i];
        if (arg == QLatin1String("--plot")) {
            options.logPath = value;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            options.outputPath = value;
        } else if (arg == QLatin1String("--from") || arg == QLatin1String("--to")) {
            const auto when = parseWhen(value);
            if (!when)
                return fail(QStringLiteral("fecha no válida para %1: \"%2\" (se espera "
                                           "AAAA-MM-DD HH:MM)")
                                .arg(arg, value));
            (arg == QLatin1String("--from") ? options.fromMs : options.toMs) = when;
        } else if (arg == QLatin1String("--size")) {
            const QStringList parts = value.toLower().split(QLatin1Char('x'));
            bool okW = false;
            bool okH = false;
            const int w = parts.size() == 2 ? parts[0].toInt(&okW) : 0;
            const int h = parts.size() == 2 ? parts[1].toInt(&okH) : 0;
            if (!okW || !okH || w < 200 || h < 150 || w > 20000 || h > 20000)
                return fail(QStringLiteral("tamaño no válido: \"%1\" (por ejemplo 1600x900, "
                                           "de 200x150 a 20000x20000)")
                                .arg(value));
            options.size = QSize(w, h);
        } else {
            return fail(QStringLiteral("opción desconocida: %1").arg(arg));
        }
    }
    if (options.logPath.isEmpty()) return fail(QStringLiteral("falta --plot FICHERO"));
    if (options.outputPath.isEmpty()) return fail(QStringLiteral("falta -o IMAGEN (.png o .svg)"));
    const QString suffix = QFileInfo(options.outputPath).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
        return fail(QStringLiteral("la imagen ha de ser .png o .svg: %1").arg(options.outputPath));
    if (options.fromMs && options.toMs && *options.toMs <= *options.fromMs)
        return fail(QStringLiteral("--to ha de ser posterior a --from"));
    return options;
}

bool runPlot(const PlotOptions& options) {
    QFile file(options.logPath);
    if (!file.open(QIODevice::ReadOnly)) {
        tellUser(
            QStringLiteral("no se puede leer %1: %2").arg(options.logPath, file.errorString()));
        return false;
    }
    const LogSeries series =
        readLog(file, systemDateOrder(), {options.fromMs, options.toMs}, options.size.width());
    if (!series.whole) {
        tellUser(
            QStringLiteral("no se puede leer %1: %2").arg(options.logPath, file.errorString()));
        return false;
    }
    if (series.unreadable > 0)
        tellUser(skippedLinesNote(options.logPath, series.unreadable, series.firstUnreadable));
    if (series.readable == 0) {
        tellUser(noReadingNote(options.logPath));
        return false;
    }
    if (series.buckets.empty()) {
        tellUser(
            QStringLiteral("%1 no tiene lecturas entre %2 y %3")
                .arg(options.logPath,
                     options.fromMs ? timeText(*options.fromMs) : QStringLiteral("el principio"),
                     options.toMs ? timeText(*options.toMs) : QStringLiteral("el final")));
        return false;
    }

    ChartInput input;
    input.buckets = series.buckets;
    input.fromMs = options.fromMs.value_or(series.firstMs);
    input.toMs = options.toMs.value_or(series.lastMs);
    if (input.toMs <= input.fromMs) input.toMs = input.fromMs + 60000;
    input.decimals = series.decimals;
    input.locale = QLocale::system();
    input.zone = QTimeZone::utc();  // the log's own clock, as written
    input.caption = QFileInfo(options.logPath).fileName();
    const QString error = saveChart(options.outputPath, options.size, input);
    if (!error.isEmpty()) {
        tellUser(error);
        return false;
    }
    return true;
}
