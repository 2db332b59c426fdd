#include "plot_command.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "chart_render.h"
#include "command_options.h"
#include "console.h"
#include "log_reader.h"
#include "log_series.h"

namespace {

std::optional<qint64> parseWhen(const QString& text) {
    const std::optional<QDateTime> when = parseCommandTime(text);
    if (!when) return std::nullopt;
    return logMs(when->date(), when->time().msecsSinceStartOfDay());
}

std::optional<QSize> parseSize(const QString& text) {
    const QStringList parts = text.toLower().split(QLatin1Char('x'));
    bool okW = false;
    bool okH = false;
    const int w = parts.size() == 2 ? parts[0].toInt(&okW) : 0;
    const int h = parts.size() == 2 ? parts[1].toInt(&okH) : 0;
    if (!okW || !okH || w < 200 || h < 150 || w > 20000 || h > 20000) return std::nullopt;
    return QSize(w, h);
}

QString timeText(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

std::variant<PlotOptions, UsageError> parsePlotArguments(const QStringList& args) {
    const auto given = readOptions(
        args, {{{"--plot"}}, {{"-o", "--output"}}, {{"--from"}}, {{"--to"}}, {{"--size"}}});
    if (const auto* usage = std::get_if<UsageError>(&given)) return *usage;
    PlotOptions options;
    auto fail = [](const QString& text) { return UsageError{text}; };
    for (const auto& [name, value] : std::get<QList<GivenOption>>(given)) {
        if (name == u"--plot") {
            options.logPath = value;
        } else if (name == u"-o") {
            options.outputPath = value;
        } else if (name == u"--from" || name == u"--to") {
            const auto when = parseWhen(value);
            if (!when) return invalidTime(name, value);
            (name == u"--from" ? options.fromMs : options.toMs) = when;
        } else {  // --size
            const auto size = parseSize(value);
            if (!size)
                return fail(QStringLiteral("tamaño no válido: \"%1\" (por ejemplo 1600x900, "
                                           "de 200x150 a 20000x20000)")
                                .arg(value));
            options.size = *size;
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
        tellUser(cannotRead(options.logPath, file.errorString()));
        return false;
    }
    const LogSeries series =
        readLog(file, systemDateOrder(), {options.fromMs, options.toMs}, options.size.width());
    if (!series.whole) {
        tellUser(cannotRead(options.logPath, file.errorString()));
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
