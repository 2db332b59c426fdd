#include "report_figures.h"

#include "weight_format.h"

namespace {

constexpr int kExtraPlaces = 2;

QString number(double value, int places, const QLocale& locale) {
    return formatWeight(value, places, locale);
}

// A field of the summary table: the text as written, quoted only where it would
// otherwise split the line.
QString field(const QString& text) {
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n')) return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

}  // namespace

FigureTexts figureTexts(const DoseGroup& group, int decimals, const QLocale& locale) {
    const DoseStats s = group.tally.stats(decimals);
    FigureTexts t;
    t.doses = QString::number(s.count);
    t.incomplete = QString::number(group.incomplete);
    t.below = QString::number(s.below);
    t.above = QString::number(s.above);
    if (s.count == 0) return t;
    const int fine = decimals + kExtraPlaces;
    t.total = number(s.totalDosed, decimals, locale);
    t.mean = number(s.meanFinal, fine, locale);
    if (s.count > 1) t.stdDev = number(s.stdDev, fine, locale);
    t.min = number(s.minFinal, decimals, locale);
    t.max = number(s.maxFinal, decimals, locale);
    if (group.target) t.meanDeviation = number(s.meanDeviation, fine, locale);
    t.belowPercent = number(100.0 * s.below / s.count, 1, locale);
    t.abovePercent = number(100.0 * s.above / s.count, 1, locale);
    if (const auto limits =
            toleranceLimits(group.target, group.mixedTargets, group.tolerancePercent, decimals))
        if (const auto cpk = capabilityIndex(s, *limits)) t.cpk = number(*cpk, 2, locale);
    return t;
}

QString productText(const QString& product) {
    return product.isEmpty() ? QStringLiteral("sin producto") : product;
}

QString cpkMeaning() {
    return QStringLiteral(
        "Cpk: cuántas veces cabe 3·s entre la media y el límite de tolerancia más cercano "
        "(teórico ± tolerancia); 1,33 o más es un proceso capaz, menos de 1 produce fuera de "
        "tolerancia.");
}

QByteArray summaryTable(const ReportData& data, const QLocale& locale) {
    QStringList lines{QStringLiteral(
        "modulo;nombre;producto;lote;dosis;incompletas;total;media;desviacion_tipica;minimo;"
        "maximo;desviacion_media;por_debajo;por_debajo_pct;por_encima;por_encima_pct;cpk")};
    for (const ModuleReport& m : data.modules) {
        for (const DoseGroup& g : m.groups) {
            const FigureTexts t = figureTexts(g, m.decimals, locale);
            lines << QStringList{QString::number(m.number),
                                 field(m.name),
                                 field(g.product),
                                 field(g.lot),
                                 t.doses,
                                 t.incomplete,
                                 t.total,
                                 t.mean,
                                 t.stdDev,
                                 t.min,
                                 t.max,
                                 t.meanDeviation,
                                 t.below,
                                 t.belowPercent,
                                 t.above,
                                 t.abovePercent,
                                 t.cpk}
                         .join(u';');
        }
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}
