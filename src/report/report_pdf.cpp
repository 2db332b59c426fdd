#include "report_pdf.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <functional>
#include <vector>

#include "command_options.h"
#include "report_charts.h"
#include "report_figures.h"
#include "weight_format.h"

namespace {

const QColor kGood(0, 120, 60);
const QColor kBad(200, 0, 0);
const QColor kMuted(90, 90, 90);
const QColor kRule(200, 200, 200);

constexpr int kResolution = 600;  // dots per inch: the layout's units
constexpr double kMm = kResolution / 25.4;
constexpr double kMargin = 15 * kMm;

QFont font(double points, bool bold = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// A piece of a page: its height, then how to draw it at a given top.
struct Piece {
    double height = 0;
    std::function<void(QPainter&, const QRectF&)> draw;
    bool keepWithNext = false;  // a heading goes to the page of what it heads
};

class Layout {
public:
    Layout(QPaintDevice* device, double width) : device_(device), width_(width) {}

    double lineHeight(const QFont& f) const { return QFontMetricsF(f, device_).height(); }

    // Lines of text, wrapped to the width.
    void text(const QString& text, const QFont& f, QColor color = Qt::black,
              bool keepWithNext = false, double spaceAfter = 0) {
        const QRectF bounds =
            QFontMetricsF(f, device_)
                .boundingRect(QRectF(0, 0, width_, 1e6), Qt::TextWordWrap | Qt::AlignLeft, text);
        pieces_.push_back({bounds.height() + spaceAfter,
                           [=](QPainter& p, const QRectF& r) {
                               p.setFont(f);
                               p.setPen(color);
                               p.drawText(r, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
                           },
                           keepWithNext});
    }

    // One row of cells at fractions of the width, each one text run.
    void row(const QStringList& cells, const std::vector<double>& at, const QFont& f,
             bool rule = false) {
        const double h = lineHeight(f) * 1.25;
        const double width = width_;
        pieces_.push_back({h, [=](QPainter& p, const QRectF& r) {
                               p.setFont(f);
                               p.setPen(Qt::black);
                               for (qsizetype i = 0; i < cells.size(); ++i) {
                                   const double x = r.left() + at[size_t(i)] * width;
                                   const double end = i + 1 < cells.size()
                                                          ? r.left() + at[size_t(i) + 1] * width
                                                          : r.right();
                                   p.drawText(QRectF(x, r.top(), end - x - kMm, h),
                                              Qt::AlignLeft | Qt::AlignVCenter, cells[i]);
                               }
                               if (rule) {
                                   p.setPen(kRule);
                                   p.drawLine(r.bottomLeft(), r.bottomRight());
                               }
                           }});
    }

    void space(double mm) {
        pieces_.push_back({mm * kMm, [](QPainter&, const QRectF&) {}});
    }

    void add(Piece piece) { pieces_.push_back(std::move(piece)); }

    // The pieces on pages of `height`: a piece that does not fit goes to the next page,
    // with the heading before it.
    std::vector<std::vector<size_t>> pages(double height) const {
        std::vector<std::vector<size_t>> pages(1);
        double used = 0;
        for (size_t i = 0; i < pieces_.size(); ++i) {
            double need = pieces_[i].height;
            for (size_t j = i; pieces_[j].keepWithNext && j + 1 < pieces_.size(); ++j)
                need += pieces_[j + 1].height;
            if (used + need > height && used > 0 && (i == 0 || !pieces_[i - 1].keepWithNext)) {
                pages.emplace_back();
                used = 0;
            }
            pages.back().push_back(i);
            used += pieces_[i].height;
        }
        return pages;
    }

    const Piece& piece(size_t i) const { return pieces_[i]; }
    double width() const { return width_; }

private:
    QPaintDevice* device_;
    double width_;
    std::vector<Piece> pieces_;
};

QString weightUnit(const QString& text) {
    return text.isEmpty() ? QStringLiteral("—") : text + QStringLiteral(" kg");
}

QString percentOf(const QString& count, const QString& percent) {
    return percent.isEmpty() ? count : QStringLiteral("%1 (%2 %)").arg(count, percent);
}

void addGroup(Layout& layout, const DoseGroup& g, int decimals, const QLocale& locale) {
    const FigureTexts t = figureTexts(g, decimals, locale);
    const QString lot =
        g.lot.isEmpty() ? QStringLiteral("sin lote") : QStringLiteral("lote ") + g.lot;
    layout.text(QStringLiteral("%1 · %2").arg(productText(g.product), lot), font(10, true),
                Qt::black, true, 0.5 * kMm);
    const auto limits = toleranceLimits(g.target, g.mixedTargets, g.tolerancePercent, decimals);
    QString target = QStringLiteral("—");
    if (g.mixedTargets)
        target = QStringLiteral("varios");
    else if (g.target)
        target =
            weightUnit(formatWeight(stepsWeight(double(*g.target), decimals), decimals, locale));
    if (limits)
        target += QStringLiteral(" ± %1 %").arg(formatWeight(*g.tolerancePercent, 2, locale));
    const std::vector<double> at{0, 0.34, 0.67};
    const QFont f = font(9);
    layout.row({QStringLiteral("Dosis completas: ") + t.doses,
                QStringLiteral("Incompletas: ") + t.incomplete,
                QStringLiteral("Total dosificado: ") + weightUnit(t.total)},
               at, f);
    layout.row({QStringLiteral("Media: ") + weightUnit(t.mean),
                QStringLiteral("Desviación típica: ") + weightUnit(t.stdDev),
                QStringLiteral("Desviación media: ") + weightUnit(t.meanDeviation)},
               at, f);
    layout.row(
        {QStringLiteral("Mínimo: ") + weightUnit(t.min),
         QStringLiteral("Máximo: ") + weightUnit(t.max), QStringLiteral("Teórico: ") + target},
        at, f);
    layout.row({QStringLiteral("Por debajo: ") + percentOf(t.below, t.belowPercent),
                QStringLiteral("Por encima: ") + percentOf(t.above, t.abovePercent),
                QStringLiteral("Cpk: ") + (t.cpk.isEmpty() ? QStringLiteral("—") : t.cpk)},
               at, f, true);
    layout.space(3);
}

void addCharts(Layout& layout, const ProductChart& c, int decimals, const QLocale& locale) {
    if (c.finals.empty()) return;
    const double gap = 6 * kMm;
    const double w = (layout.width() - gap) / 2;
    layout.text(QStringLiteral("%1: gráficos").arg(productText(c.product)), font(9, true), kMuted,
                true);
    layout.add({62 * kMm, [=](QPainter& p, const QRectF& r) {
                    const QRectF left(r.left(), r.top(), w, 58 * kMm);
                    drawHistogram(p, left, c, decimals, locale);
                    drawRunChart(p, left.translated(w + gap, 0), c, decimals, locale);
                }});
    layout.space(2);
}

void addChanges(Layout& layout, const ModuleReport& m, const QLocale& locale) {
    layout.text(QStringLiteral("Cambios del periodo"), font(11, true), Qt::black, true, kMm);
    if (!m.chainVerdict) {
        layout.text(QStringLiteral("Sin Cambios.csv."), font(9), kMuted);
        return;
    }
    const bool whole = m.chainVerdict->contains(QStringLiteral("cadena completa"));
    layout.text(*m.chainVerdict, font(9, true), whole ? kGood : kBad, false, kMm);
    if (m.changes.empty()) {
        layout.text(QStringLiteral("Ningún cambio en el periodo."), font(9), kMuted);
        return;
    }
    const std::vector<double> at{0, 0.17, 0.31, 0.52, 0.66, 0.80};
    layout.row({QStringLiteral("Hora"), QStringLiteral("Usuario"), QStringLiteral("Campo"),
                QStringLiteral("Antes"), QStringLiteral("Valor"), QStringLiteral("Resultado")},
               at, font(8, true), true);
    for (const PeriodChange& c : m.changes)
        layout.row({logTimeText(c.ms, locale), c.line.usuario, c.line.campo, c.line.antes,
                    c.line.valor, c.line.resultado},
                   at, font(8));
}

void addLots(Layout& layout, const ModuleReport& m, const QLocale& locale) {
    layout.space(3);
    layout.text(QStringLiteral("Lotes completados"), font(11, true), Qt::black, true, kMm);
    if (m.lots.empty()) {
        layout.text(QStringLiteral("Ningún lote completado en el periodo."), font(9), kMuted);
        return;
    }
    for (const CompletedLot& lot : m.lots)
        layout.text(QStringLiteral("Lote %1 (%2): %3 dosis, completado el %4")
                        .arg(lot.lot, productText(lot.product))
                        .arg(lot.doses)
                        .arg(logTimeText(lot.atMs, locale)),
                    font(9));
}

void addModule(Layout& layout, const ModuleReport& m, const QLocale& locale) {
    const QString where =
        m.folderName.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m.folderName);
    layout.text(QStringLiteral("Módulo %1: %2%3").arg(m.number).arg(m.name, where), font(13, true),
                Qt::black, true, 2 * kMm);
    if (m.groups.empty())
        layout.text(QStringLiteral("Ninguna dosificación en el periodo."), font(9), kMuted, false,
                    2 * kMm);
    for (const ProductChart& c : m.charts) {
        for (const DoseGroup& g : m.groups)
            if (g.product == c.product) addGroup(layout, g, m.decimals, locale);
        addCharts(layout, c, m.decimals, locale);
    }
    addChanges(layout, m, locale);
    addLots(layout, m, locale);
    layout.space(6);
}

}  // namespace

QString writeReportPdf(const QString& path, const ReportData& data, const QLocale& locale,
                       const QDateTime& madeAt) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(path, file.errorString());
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kResolution);
    writer.setTitle(QStringLiteral("Informe de dosificación"));
    writer.setCreator(QStringLiteral("Vormel-Q"));
    const QRectF page(0, 0, writer.width(), writer.height());
    const QRectF body = page.adjusted(kMargin, kMargin + 6 * kMm, -kMargin, -kMargin - 6 * kMm);

    Layout layout(&writer, body.width());
    layout.text(QStringLiteral("Informe de dosificación"), font(18, true), Qt::black, false,
                2 * kMm);
    layout.text(QStringLiteral("Carpeta: ") + QDir::toNativeSeparators(data.folder), font(10));
    layout.text(QStringLiteral("Periodo: ") + periodText(data.period, locale), font(10));
    layout.text(QStringLiteral("Hecho el ") + locale.toString(madeAt.date(), QLocale::ShortFormat) +
                    QLatin1Char(' ') + locale.toString(madeAt.time(), QStringLiteral("H:mm")),
                font(10), kMuted, false, 2 * kMm);
    layout.text(cpkMeaning(), font(8), kMuted, false, 6 * kMm);
    for (const ModuleReport& m : data.modules) addModule(layout, m, locale);

    const auto pages = layout.pages(body.height());
    QPainter painter;
    if (!painter.begin(&writer))
        return cannotWrite(path, QStringLiteral("no se puede crear el PDF"));
    for (size_t n = 0; n < pages.size(); ++n) {
        if (n > 0) writer.newPage();
        painter.setFont(font(8));
        painter.setPen(kMuted);
        const QRectF head(kMargin, kMargin, body.width(), 5 * kMm);
        painter.drawText(
            head, Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("Informe de dosificación · ") + QFileInfo(data.folder).fileName());
        painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, periodText(data.period, locale));
        painter.drawText(QRectF(kMargin, page.bottom() - kMargin - 5 * kMm, body.width(), 5 * kMm),
                         Qt::AlignHCenter | Qt::AlignVCenter,
                         QStringLiteral("Página %1 de %2").arg(n + 1).arg(pages.size()));
        double top = body.top();
        for (size_t i : pages[n]) {
            const Piece& piece = layout.piece(i);
            piece.draw(painter, QRectF(body.left(), top, body.width(), piece.height));
            top += piece.height;
        }
    }
    painter.end();
    if (file.error() != QFileDevice::NoError) return cannotWrite(path, file.errorString());
    return {};
}
