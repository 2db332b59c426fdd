#include "chart_render.h"

#include <png.h>

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <csetjmp>

#include "weight_format.h"

namespace {

const QColor kGross(20, 70, 200);
const QColor kNet(0, 140, 70);
const QColor kCoarse(220, 120, 0);
const QColor kFine(200, 30, 30);
const QColor kMark(30, 30, 30);

struct Column {
    Bucket b;
    int x = 0;
};

// The buckets as pixel columns: the extremes of all that falls in one column, the
// first and last for the joins to its neighbours, and a break kept.
std::vector<Column> columnsOf(const ChartInput& in, const QRectF& plot) {
    std::vector<Column> columns;
    const double span = static_cast<double>(std::max<qint64>(1, in.toMs - in.fromMs));
    const int width = std::max(1, static_cast<int>(plot.width()));
    for (const Bucket& b : in.buckets) {
        if (b.lastMs < in.fromMs || b.firstMs > in.toMs) continue;
        const double mid = (static_cast<double>(b.firstMs) + static_cast<double>(b.lastMs)) / 2;
        const int x = std::clamp(static_cast<int>((mid - in.fromMs) / span * width), 0, width - 1);
        if (!columns.empty() && columns.back().x == x) {
            mergeBucket(columns.back().b, b);
            continue;
        }
        columns.push_back({b, x});
    }
    return columns;
}

struct Range {
    double lo = 0;
    double hi = 0;
    double step = 1;
};

double resolution(int decimals) {
    return stepsWeight(1, std::max(0, decimals));
}

Range valueRange(const std::vector<Column>& columns, const ChartInput& in, double height) {
    double lo = 0;
    double hi = 0;
    bool any = false;
    for (const Column& c : columns) {
        const double cl = std::min(c.b.grossMin, c.b.netMin);
        const double ch = std::max(c.b.grossMax, c.b.netMax);
        lo = any ? std::min(lo, cl) : cl;
        hi = any ? std::max(hi, ch) : ch;
        any = true;
    }
    if (in.setpoints) {
        // Setpoints near the readings belong in view; one far off (a register never
        // set, a typing slip) would flatten the curve and is marked at the edge instead.
        const double values[] = {in.setpoints->coarse, in.setpoints->fine, in.setpoints->target};
        // With no reading in view yet, the smallest setpoint stands in for them.
        if (!any) lo = hi = *std::min_element(std::begin(values), std::end(values));
        const double reach =
            std::max({hi - lo, std::abs(hi), std::abs(lo), 10 * resolution(in.decimals)});
        for (double v : values) {
            if (v >= lo - 3 * reach && v <= hi + 3 * reach) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    }
    if (hi - lo < 4 * resolution(in.decimals)) {
        const double pad = std::max(5 * resolution(in.decimals), std::abs(hi) * 0.02);
        lo -= pad;
        hi += pad;
    }
    Range r;
    const int ticks = std::max(2, static_cast<int>(height / 45));
    r.step = niceStep((hi - lo) / ticks, in.decimals);
    r.lo = std::floor(lo / r.step) * r.step;
    r.hi = std::ceil(hi / r.step) * r.step;
    if (r.hi - hi < r.step * 0.05) r.hi += r.step;  // room above the top value
    if (lo < 0 && lo - r.lo < r.step * 0.05) r.lo -= r.step;
    return r;
}

QString timeLabel(qint64 localMs, qint64 step, const QLocale& locale) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(localMs, QTimeZone::utc());
    if (step >= 86400000 || (t.time() == QTime(0, 0) && step >= 3600000))
        return locale.toString(t.date(), QLocale::ShortFormat);
    return t.toString(step < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

// Each cycle's final weight: a ring on the curve, its value above it where the one
// before leaves room (a long span holds more cycles than labels).
template <typename Place>
void drawMarks(QPainter& p, const std::vector<ChartMark>& marks, const QRectF& plot,
               const QFontMetricsF& fm, Place place, const ChartInput& in) {
    double labelsEnd = plot.left() - 1e9;
    const double radius = std::max(3.0, fm.height() / 4);
    for (const ChartMark& m : marks) {
        const QPointF at = place(m);
        if (!plot.contains(at)) continue;
        const QColor color = m.alarm ? kChartAlarm : kMark;
        p.setPen(QPen(color, 2));
        p.setBrush(m.alarm ? kChartAlarm : Qt::white);
        p.drawEllipse(at, radius, radius);
        const QString text = formatWeight(m.value, in.decimals, in.locale);
        const double w = fm.horizontalAdvance(text) + 6;
        const QRectF box(at.x() - w / 2, at.y() - radius - fm.height() - 2, w, fm.height());
        if (box.left() < labelsEnd + 4 || box.top() < plot.top()) continue;
        labelsEnd = box.right();
        p.fillRect(box, QColor(255, 255, 255, 210));
        p.setPen(color);
        p.drawText(box, Qt::AlignCenter, text);
    }
}

void writeToFile(png_structp png, png_bytep data, size_t length) {
    auto* file = static_cast<QFile*>(png_get_io_ptr(png));
    if (file->write(reinterpret_cast<const char*>(data), static_cast<qint64>(length)) !=
        static_cast<qint64>(length))
        png_error(png, "write");
}

void flushFile(png_structp png) {
    static_cast<QFile*>(png_get_io_ptr(png))->flush();
}

// An RGB32 image as 8-bit RGB, the same pixels QImage::save writes, in a fraction of
// its time: a chart is mostly runs of one colour, which the "up" filter and a light
// deflate take as well as the full search over every filter does. Nothing here may
// own a destructor: libpng's errors come back by longjmp.
bool encodePng(QFile& file, const QImage& image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &file, writeToFile, flushFile);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    // RGB32 is 0xffRRGGBB in the machine's order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    for (int y = 0; y < image.height(); ++y) png_write_row(png, image.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool savePng(const QString& path, const QImage& image) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const bool written = encodePng(file, image);
    return file.flush() && written;
}

}  // namespace

double niceStep(double roughStep, int decimals) {
    const double minimum = resolution(decimals);
    if (!(roughStep > minimum)) return minimum;
    const double power = std::pow(10.0, std::floor(std::log10(roughStep)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= roughStep * 0.999) return std::max(minimum, m * power);
    return std::max(minimum, 10 * power);
}

qint64 timeStep(qint64 spanMs, int maxTicks) {
    static const qint64 kSteps[] = {1000,     2000,     5000,     10000,     15000,
                                    30000,    60000,    120000,   300000,    600000,
                                    900000,   1800000,  3600000,  7200000,   10800000,
                                    21600000, 43200000, 86400000, 172800000, 604800000};
    for (qint64 s : kSteps)
        if (spanMs / s <= std::max(1, maxTicks)) return s;
    qint64 s = kSteps[std::size(kSteps) - 1];
    while (spanMs / s > maxTicks) s *= 2;
    return s;
}

QFont chartTypeface() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void drawChart(QPainter& p, const QRectF& area, const ChartInput& in) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(area, Qt::white);

    QFont font = chartTypeface();
    font.setPixelSize(std::clamp(static_cast<int>(area.height() / 42), 11, 20));
    p.setFont(font);
    const QFontMetricsF fm(font);
    const double line = fm.height();

    const QString widest = formatWeight(-88888888.0, in.decimals, in.locale);
    const double left = area.left() + std::min(fm.horizontalAdvance(widest), area.width() / 5) + 12;
    const double lastLabelWidth = fm.horizontalAdvance(QStringLiteral("Bruto ") + widest) + 16;
    const double right = area.right() - std::min(lastLabelWidth, area.width() / 4);
    const QRectF plot(QPointF(left, area.top() + 3 * line + 4),
                      QPointF(right, area.bottom() - 2 * line - 8));
    if (plot.width() < 10 || plot.height() < 10) {
        p.restore();
        return;
    }

    const std::vector<Column> columns = columnsOf(in, plot);
    const Range range = valueRange(columns, in, plot.height());
    auto yOf = [&](double v) {
        return plot.bottom() - (v - range.lo) / (range.hi - range.lo) * plot.height();
    };
    const double span = static_cast<double>(std::max<qint64>(1, in.toMs - in.fromMs));
    auto xOfMs = [&](qint64 ms) { return plot.left() + (ms - in.fromMs) / span * plot.width(); };

    // Grid and value axis.
    p.setPen(QPen(kChartGrid, 1));
    p.drawRect(plot);
    const int valueTicks = static_cast<int>(std::llround((range.hi - range.lo) / range.step));
    for (int i = 0; i <= valueTicks; ++i) {
        const double v = range.lo + i * range.step;
        const double y = yOf(v);
        p.setPen(QPen(kChartGrid, 1));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kChartAxis);
        p.drawText(QRectF(area.left(), y - line / 2, left - area.left() - 6, line),
                   Qt::AlignRight | Qt::AlignVCenter, formatWeight(v, in.decimals, in.locale));
    }
    p.setPen(kChartAxis);
    p.drawText(QRectF(area.left(), plot.top() - 1.7 * line, left - area.left() - 6, line),
               Qt::AlignRight | Qt::AlignBottom, QStringLiteral("kg"));

    // Time axis: round steps of the labelled clock.
    const qint64 offset =
        static_cast<qint64>(in.zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(in.fromMs))) *
        1000;
    const int maxTicks = std::max(
        1,
        static_cast<int>(plot.width() / (fm.horizontalAdvance(QStringLiteral("00:00:00")) * 1.5)));
    const qint64 step = timeStep(in.toMs - in.fromMs, maxTicks);
    qint64 tick = ((in.fromMs + offset + step - 1) / step) * step;
    for (; tick - offset <= in.toMs; tick += step) {
        const double x = xOfMs(tick - offset);
        p.setPen(QPen(kChartGrid, 1));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(kChartAxis);
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        const QString text = timeLabel(tick, step, in.locale);
        const double w = fm.horizontalAdvance(text);
        p.drawText(QRectF(x - w / 2 - 2, plot.bottom() + 5, w + 4, line), Qt::AlignCenter, text);
    }
    // The date(s) shown, under the time labels on the right.
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(in.fromMs, in.zone).date();
    const QDate lastDay = QDateTime::fromMSecsSinceEpoch(in.toMs, in.zone).date();
    QString days = in.locale.toString(firstDay, QLocale::ShortFormat);
    if (lastDay != firstDay)
        days += QStringLiteral(" – ") + in.locale.toString(lastDay, QLocale::ShortFormat);
    p.drawText(QRectF(plot.left(), plot.bottom() + line + 6, plot.width(), line),
               Qt::AlignRight | Qt::AlignVCenter, days);

    // Setpoint lines, under the curves.
    struct Labelled {
        QString name;
        double value;
        QColor color;
    };
    std::vector<Labelled> marks;
    if (in.setpoints) {
        marks.push_back({QStringLiteral("Grueso"), in.setpoints->coarse, kCoarse});
        marks.push_back({QStringLiteral("Fino"), in.setpoints->fine, kFine});
        marks.push_back({QStringLiteral("Teórico"), in.setpoints->target, kChartTarget});
    }
    double labelX = plot.left() + 6;
    for (const Labelled& m : marks) {
        const double y = std::clamp(yOf(m.value), plot.top(), plot.bottom());
        const bool outside = m.value > range.hi || m.value < range.lo;
        QPen pen(m.color, 1.2, outside ? Qt::DotLine : Qt::DashLine);
        p.setPen(pen);
        if (!outside) p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        const QString text =
            m.name + QLatin1Char(' ') + formatWeight(m.value, in.decimals, in.locale) +
            (outside ? (m.value > range.hi ? QStringLiteral(" ↑") : QStringLiteral(" ↓"))
                     : QString());
        const double w = fm.horizontalAdvance(text) + 6;
        // Under its line, unless that would leave the plot.
        const double ty = y + 1 + line > plot.bottom() ? y - line - 1 : y + 1;
        const QRectF box(labelX, ty, w, line);
        p.fillRect(box, QColor(255, 255, 255, 210));
        p.setPen(m.color);
        p.drawText(box, Qt::AlignCenter, text);
        labelX += w + 8;
    }

    // The curves: each column a stroke from its lowest to its highest value, joined to
    // the column before unless the module did not answer in between.
    p.setClipRect(plot.adjusted(-1, -1, 1, 1));
    const bool dense = columns.size() > 300;
    struct Series {
        QString name;
        QColor color;
        double Bucket::*min;
        double Bucket::*max;
        double Bucket::*first;
        double Bucket::*last;
    };
    // Net on top and a little transparent: over a long span both fill the same band and
    // the gross one still shows through.
    const Series series[] = {
        {QStringLiteral("Bruto"), kGross, &Bucket::grossMin, &Bucket::grossMax, &Bucket::grossFirst,
         &Bucket::grossLast},
        {QStringLiteral("Neto"), QColor(kNet.red(), kNet.green(), kNet.blue(), 190),
         &Bucket::netMin, &Bucket::netMax, &Bucket::netFirst, &Bucket::netLast},
    };
    for (const Series& s : series) {
        std::vector<QLineF> lines;
        lines.reserve(columns.size() * 2);
        const Column* previous = nullptr;
        for (const Column& c : columns) {
            const double x = plot.left() + c.x + 0.5;
            lines.emplace_back(x, yOf(c.b.*(s.min)), x, yOf(c.b.*(s.max)));
            if (previous && !c.b.gapBefore)
                lines.emplace_back(plot.left() + previous->x + 0.5, yOf(previous->b.*(s.last)), x,
                                   yOf(c.b.*(s.first)));
            previous = &c;
        }
        // A column per pixel is already as fine as the screen: thin aliased strokes draw
        // it at a fraction of the cost of smoothed wide ones, which matters for a chart
        // repainted at every poll.
        QPen pen(s.color, dense ? 1.0 : 1.6);
        pen.setCapStyle(Qt::SquareCap);
        p.setPen(pen);
        p.setRenderHint(QPainter::Antialiasing, !dense);
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    drawMarks(
        p, in.marks, plot, fm,
        [&](const ChartMark& m) { return QPointF(xOfMs(m.ms), yOf(m.value)); }, in);
    p.setClipping(false);

    // The last values, at the right edge, each at its height; a second label that
    // would cover the first moves below it.
    if (!columns.empty()) {
        const Bucket& last = columns.back().b;
        double taken = -1e9;
        const struct {
            QString name;
            double value;
            QColor color;
        } lastValues[] = {{QStringLiteral("Bruto"), last.grossLast, kGross},
                          {QStringLiteral("Neto"), last.netLast, kNet}};
        for (const auto& v : lastValues) {
            double y = std::clamp(yOf(v.value), plot.top(), plot.bottom()) - line / 2;
            if (y < taken + line + 2) y = taken + line + 2;
            taken = y;
            const QString text =
                v.name + QLatin1Char(' ') + formatWeight(v.value, in.decimals, in.locale);
            const QRectF box(plot.right() + 4, y, fm.horizontalAdvance(text) + 8, line + 2);
            p.setPen(Qt::NoPen);
            p.setBrush(v.color);
            p.drawRoundedRect(box, 3, 3);
            p.setPen(Qt::white);
            p.drawText(box, Qt::AlignCenter, text);
        }
    }

    // Caption and legend above the plot.
    p.setPen(Qt::black);
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(plot.left(), area.top() + 4, plot.width(), line),
               Qt::AlignLeft | Qt::AlignVCenter, in.caption);
    p.setFont(font);
    double x = plot.right();
    const Labelled legend[] = {{QStringLiteral("Neto"), 0, kNet},
                               {QStringLiteral("Bruto"), 0, kGross}};
    for (const Labelled& l : legend) {
        const double w = fm.horizontalAdvance(l.name);
        x -= w;
        p.setPen(Qt::black);
        p.drawText(QRectF(x, area.top() + 4, w, line), Qt::AlignVCenter, l.name);
        p.setPen(QPen(l.color, 3));
        p.drawLine(QPointF(x - 24, area.top() + 4 + line / 2),
                   QPointF(x - 6, area.top() + 4 + line / 2));
        x -= 40;
    }
    p.restore();
}

QString saveChart(const QString& path, QSize size, const ChartInput& input) {
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("Peso"));
        QPainter painter;
        if (!painter.begin(&svg)) return QStringLiteral("no se puede escribir %1").arg(path);
        drawChart(painter, QRectF(QPointF(0, 0), size), input);
        painter.end();
        return QFileInfo(path).size() > 0 ? QString()
                                          : QStringLiteral("no se puede escribir %1").arg(path);
    }
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        drawChart(painter, QRectF(QPointF(0, 0), size), input);
    }
    if (!savePng(path, image)) return QStringLiteral("no se puede escribir %1").arg(path);
    return {};
}
