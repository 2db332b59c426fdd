#include "report_charts.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "chart_render.h"
#include "weight_format.h"

namespace {

// Lighter than the marks drawn over the bars, so the theoretical weight and the limits
// stay seen where a bar stands on them.
const QColor kBar(125, 160, 228);
const QColor kWithin(20, 70, 200);

constexpr int kBins = 24;

QFont chartFont(double points) {
    QFont font = chartTypeface();
    font.setPointSizeF(points);
    return font;
}

struct Frame {
    QRectF plot;
    double line = 0;
};

// The title on top, room for the value labels on the left and the axis labels below.
Frame frameIn(QPainter& p, const QRectF& area, const QString& title, const QString& widest) {
    p.setFont(chartFont(7));
    const QFontMetricsF fm(p.font(), p.device());
    const double line = fm.height();
    p.setPen(Qt::black);
    QFont bold = chartFont(8);
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(area.left(), area.top(), area.width(), line * 1.4),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(chartFont(7));
    const double left = area.left() + fm.horizontalAdvance(widest) + line * 0.6;
    return {QRectF(QPointF(left, area.top() + line * 2),
                   QPointF(area.right() - line * 0.8, area.bottom() - line * 1.6)),
            line};
}

std::optional<ToleranceLimits> limitsOf(const ProductChart& c, int decimals) {
    return toleranceLimits(c.target, c.mixedTargets, c.tolerancePercent, decimals);
}

struct Span {
    double lo = 0;
    double hi = 1;
};

// The weights in view: every final weight and the limits, a step more either side.
Span weightSpan(double lo, double hi, const std::optional<ToleranceLimits>& limits, int decimals) {
    if (limits) {
        lo = std::min({lo, limits->low, limits->target});
        hi = std::max({hi, limits->high, limits->target});
    }
    const double pad = std::max((hi - lo) * 0.05, stepsWeight(1, decimals));
    return {lo - pad, hi + pad};
}

void markLimits(QPainter& p, const std::optional<ToleranceLimits>& limits,
                const std::function<QLineF(double)>& across) {
    if (!limits) return;
    QPen target(kChartTarget);
    target.setWidthF(p.device()->logicalDpiX() / 72.0);
    p.setPen(target);
    p.drawLine(across(limits->target));
    QPen limit(kChartAlarm);
    limit.setWidthF(p.device()->logicalDpiX() / 72.0);
    limit.setStyle(Qt::DashLine);
    p.setPen(limit);
    p.drawLine(across(limits->low));
    p.drawLine(across(limits->high));
}

void valueAxis(QPainter& p, const Frame& f, Span span, int decimals, const QLocale& locale,
               const std::function<double(double)>& yOf) {
    const double step = niceStep((span.hi - span.lo) / 5, decimals);
    for (double v = std::ceil(span.lo / step) * step; v <= span.hi; v += step) {
        const double y = yOf(v);
        p.setPen(kChartGrid);
        p.drawLine(QPointF(f.plot.left(), y), QPointF(f.plot.right(), y));
        p.setPen(kChartAxis);
        p.drawText(
            QRectF(f.plot.left() - 40 * f.line, y - f.line / 2, 40 * f.line - f.line * 0.3, f.line),
            Qt::AlignRight | Qt::AlignVCenter, formatWeight(v, decimals, locale));
    }
}

}  // namespace

void drawHistogram(QPainter& p, const QRectF& area, const ProductChart& c, int decimals,
                   const QLocale& locale) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const Frame f = frameIn(p, area, QStringLiteral("Histograma de pesos finales (kg)"),
                            QStringLiteral("88888"));
    const auto limits = limitsOf(c, decimals);
    if (c.finals.empty()) {
        p.restore();
        return;
    }
    const double unit = stepsWeight(1, decimals);
    const Span span =
        weightSpan(stepsWeight(double(c.finals.begin()->first), decimals),
                   stepsWeight(double(c.finals.rbegin()->first), decimals), limits, decimals);
    // Bars a whole number of steps wide, so each final weight falls in exactly one.
    const double width = std::max(unit, std::ceil((span.hi - span.lo) / kBins / unit) * unit);
    // Each bar centred on the weights it counts.
    const double first = std::floor(span.lo / width) * width - unit / 2;
    const int bins = std::max(1, static_cast<int>(std::ceil((span.hi - first) / width)));
    std::vector<int> counts(static_cast<size_t>(bins));
    for (const auto& [steps, n] : c.finals) {
        const int bin = std::clamp(
            static_cast<int>(std::floor((stepsWeight(double(steps), decimals) - first) / width)), 0,
            bins - 1);
        counts[static_cast<size_t>(bin)] += n;
    }
    const int most = *std::max_element(counts.begin(), counts.end());
    const double xSpan = bins * width;
    auto xOf = [&](double v) { return f.plot.left() + (v - first) / xSpan * f.plot.width(); };
    auto yOf = [&](double n) { return f.plot.bottom() - n / std::max(1, most) * f.plot.height(); };

    // Counts on the left, weights below.
    const double countStep = std::max(1.0, niceStep(most / 4.0, 0));
    for (double n = countStep; n <= most; n += countStep) {
        p.setPen(kChartGrid);
        p.drawLine(QPointF(f.plot.left(), yOf(n)), QPointF(f.plot.right(), yOf(n)));
        p.setPen(kChartAxis);
        p.drawText(
            QRectF(area.left(), yOf(n) - f.line / 2, f.plot.left() - area.left() - 4, f.line),
            Qt::AlignRight | Qt::AlignVCenter, QString::number(n, 'f', 0));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kBar);
    for (int i = 0; i < bins; ++i) {
        if (counts[size_t(i)] == 0) continue;
        p.drawRect(QRectF(QPointF(xOf(first + i * width), yOf(counts[size_t(i)])),
                          QPointF(xOf(first + (i + 1) * width), yOf(0)))
                       .adjusted(0.5, 0, -0.5, 0));
    }
    p.setBrush(Qt::NoBrush);
    const double labelStep = niceStep(xSpan / 5, decimals);
    p.setPen(kChartAxis);
    for (double v = std::ceil(first / labelStep) * labelStep; v <= first + xSpan; v += labelStep)
        p.drawText(QRectF(xOf(v) - 5 * f.line, f.plot.bottom() + 2, 10 * f.line, f.line),
                   Qt::AlignHCenter | Qt::AlignTop, formatWeight(v, decimals, locale));
    p.setPen(kChartAxis);
    p.drawRect(f.plot);
    markLimits(p, limits,
               [&](double v) { return QLineF(xOf(v), f.plot.top(), xOf(v), f.plot.bottom()); });
    p.restore();
}

void drawRunChart(QPainter& p, const QRectF& area, const ProductChart& c, int decimals,
                  const QLocale& locale) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const Frame f = frameIn(p, area, QStringLiteral("Pesos finales en el tiempo (kg)"),
                            formatWeight(-8888.8, decimals, locale));
    const auto limits = limitsOf(c, decimals);
    std::vector<Bucket> within = c.within ? c.within->buckets() : std::vector<Bucket>{};
    std::vector<Bucket> outside = c.outside ? c.outside->buckets() : std::vector<Bucket>{};
    if (within.empty() && outside.empty()) {
        p.restore();
        return;
    }
    qint64 from = std::numeric_limits<qint64>::max(), to = std::numeric_limits<qint64>::min();
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (const auto* series : {&within, &outside})
        for (const Bucket& b : *series) {
            from = std::min(from, b.firstMs);
            to = std::max(to, b.lastMs);
            lo = std::min(lo, b.netMin);
            hi = std::max(hi, b.netMax);
        }
    if (to <= from) to = from + 60000;
    const Span span = weightSpan(lo, hi, limits, decimals);
    // The first and the last dose a dot clear of the frame, not drawn over it.
    const double dot = f.line * 0.36;
    const double inset = dot * 1.5;
    auto xOf = [&](qint64 ms) {
        return f.plot.left() + inset +
               double(ms - from) / double(to - from) * (f.plot.width() - 2 * inset);
    };
    auto yOf = [&](double v) {
        return f.plot.bottom() - (v - span.lo) / (span.hi - span.lo) * f.plot.height();
    };
    valueAxis(p, f, span, decimals, locale, yOf);

    // Time labels at round steps of the records' clock.
    const int ticks = std::max(2, static_cast<int>(f.plot.width() / (9 * f.line)));
    const qint64 step = timeStep(to - from, ticks);
    p.setPen(kChartAxis);
    for (qint64 t = (from / step + 1) * step; t <= to; t += step) {
        if (xOf(t) < f.plot.left() + 2 * f.line) continue;  // clear of the weights' labels
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc());
        const QString label = step >= 86400000 ? locale.toString(when.date(), QLocale::ShortFormat)
                                               : when.time().toString(QStringLiteral("H:mm"));
        p.drawText(QRectF(xOf(t) - 5 * f.line, f.plot.bottom() + 2, 10 * f.line, f.line),
                   Qt::AlignHCenter | Qt::AlignTop, label);
    }
    p.drawRect(f.plot);
    markLimits(p, limits,
               [&](double v) { return QLineF(f.plot.left(), yOf(v), f.plot.right(), yOf(v)); });

    // Each bucket a stroke over the weights it holds, a dot for one weight: a round-capped
    // line, one path a series, so a year of doses stays a few kilobytes of the PDF.
    for (const auto& [series, color] :
         {std::pair{&within, kWithin}, std::pair{&outside, kChartAlarm}}) {
        QPen pen(color, dot, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        std::vector<QLineF> strokes;
        strokes.reserve(series->size());
        for (const Bucket& b : *series) {
            const double x = xOf((b.firstMs + b.lastMs) / 2);
            // A line of no length is drawn as nothing: a single weight gets a hair of one.
            const double top = yOf(b.netMax), bottom = std::max(yOf(b.netMin), top + dot / 20);
            strokes.emplace_back(x, top, x, bottom);
        }
        p.drawLines(strokes.data(), int(strokes.size()));
    }
    p.restore();
}
