#include "report_pdf.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
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

constexpr int kResolution = 300;  // dots per inch: the layout's units
constexpr double kMm = kResolution / 25.4;
constexpr double kMargin = 15 * kMm;

QFont font(double points, bool bold = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// Text of one font as glyphs at given points, gathered and then drawn as one run. No
// shaping: the report's text is Latin script, one glyph a character.
class RowGlyphs {
public:
    RowGlyphs(const QFont& font, int dpi) : raw_(QRawFont::fromFont(font)) {
        raw_.setPixelSize(font.pointSizeF() * dpi / 72.0);
    }

    void add(const QString& text, QPointF at) {
        for (const QChar c : text) {
            auto it = cache_.find(c.unicode());
            if (it == cache_.end()) {
                quint32 index = 0;
                int count = 1;
                raw_.glyphIndexesForChars(&c, 1, &index, &count);
                QPointF advance;
                raw_.advancesForGlyphIndexes(&index, &advance, 1, QRawFont::UseDesignMetrics);
                it = cache_.insert(c.unicode(), {index, advance.x()});
            }
            indexes_ << it->index;
            positions_ << at;
            at.rx() += it->advance;
        }
    }

    void draw(QPainter& p) {
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(indexes_);
        run.setPositions(positions_);
        p.drawGlyphRun(QPointF(0, 0), run);
        indexes_.clear();
        positions_.clear();
    }

private:
    struct Glyph {
        quint32 index = 0;
        double advance = 0;
    };
    QRawFont raw_;
    QHash<char16_t, Glyph> cache_;
    QList<quint32> indexes_;
    QList<QPointF> positions_;
};

// A piece of a page: its height, then how to draw it at a given top.
struct Piece {
    Piece(double h, std::function<void(QPainter&, const QRectF&)> d, bool keep = false,
          std::optional<size_t> of = std::nullopt)
        : height(h), draw(std::move(d)), keepWithNext(keep), header(of) {}
    double height = 0;
    std::function<void(QPainter&, const QRectF&)> draw;
    bool keepWithNext = false;  // a heading goes to the page of what it heads
    // A table's row: its header's piece, drawn again above it when it opens a page.
    std::optional<size_t> header;
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
        add({bounds.height() + spaceAfter,
             [=](QPainter& p, const QRectF& r) {
                 p.setFont(f);
                 p.setPen(color);
                 p.drawText(r, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
             },
             keepWithNext});
    }

    // One row of cells at fractions of the width, on one line. A year's report has
    // thousands of rows: each is one run of glyphs, looked up once a character, rather
    // than a shaped and laid out text a cell.
    void row(const QStringList& cells, const std::vector<double>& at, const QFont& f,
             bool rule = false) {
        const QFontMetricsF fm(f, device_);
        const double h = fm.height() * 1.3;
        const double baseline = fm.ascent() + (h - fm.height()) / 2;
        const double width = width_;
        std::shared_ptr<RowGlyphs> glyphs = glyphsFor(f);
        // A ruled row heads the rows after it, until something else comes.
        const std::optional<size_t> header = rule ? std::nullopt : header_;
        if (rule) header_ = pieces_.size();
        pieces_.push_back({h,
                           [=](QPainter& p, const QRectF& r) {
                               for (qsizetype i = 0; i < cells.size(); ++i)
                                   glyphs->add(cells[i], QPointF(r.left() + at[size_t(i)] * width,
                                                                 r.top() + baseline));
                               p.setPen(Qt::black);
                               glyphs->draw(p);
                               if (rule) {
                                   p.setPen(kRule);
                                   p.drawLine(r.bottomLeft(), r.bottomRight());
                               }
                           },
                           false, header});
    }

    void space(double mm) {
        add({mm * kMm, [](QPainter&, const QRectF&) {}});
    }

    void add(Piece piece) {
        header_.reset();
        pieces_.push_back(std::move(piece));
    }

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
                if (const auto header = pieces_[i].header) {
                    pages.back().push_back(*header);
                    used += pieces_[*header].height;
                }
            }
            pages.back().push_back(i);
            used += pieces_[i].height;
        }
        return pages;
    }

    const Piece& piece(size_t i) const { return pieces_[i]; }
    double width() const { return width_; }
    QPaintDevice* device() const { return device_; }

private:
    std::shared_ptr<RowGlyphs> glyphsFor(const QFont& f) {
        for (const auto& [font, glyphs] : glyphs_)
            if (font == f) return glyphs;
        glyphs_.emplace_back(f, std::make_shared<RowGlyphs>(f, device_->logicalDpiY()));
        return glyphs_.back().second;
    }

    QPaintDevice* device_;
    double width_;
    std::vector<Piece> pieces_;
    std::optional<size_t> header_;  // of the table under way
    std::vector<std::pair<QFont, std::shared_ptr<RowGlyphs>>> glyphs_;
};

QString orDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("—") : text;
}

// "3 (2,5 %)"; none is just "0".
QString percentOf(const QString& count, const QString& percent) {
    return percent.isEmpty() || count == u"0" ? count
                                              : QStringLiteral("%1 (%2 %)").arg(count, percent);
}

// A lot's name fits its column; the rare long one is cut.
QString fitted(const QString& text, const QFontMetricsF& fm, double width) {
    constexpr int kSafeLength = 14;
    return text.size() <= kSafeLength ? text : fm.elidedText(text, Qt::ElideRight, width);
}

// What a product's doses were measured against: its theoretical weight and tolerance.
QString targetText(const ProductChart& c, int decimals, const QLocale& locale) {
    if (c.mixedTargets) return QStringLiteral("varios pesos teóricos");
    if (!c.target) return QStringLiteral("sin peso teórico");
    QString text =
        QStringLiteral("teórico %1 kg")
            .arg(formatWeight(stepsWeight(double(*c.target), decimals), decimals, locale));
    text += c.tolerancePercent ? QStringLiteral(", tolerancia ± %1 %")
                                     .arg(formatWeight(*c.tolerancePercent, 2, locale))
                               : QStringLiteral(", sin tolerancia");
    return text;
}

// A product's lots, a row each, with the figures of the summary table.
void addProduct(Layout& layout, const ModuleReport& m, const ProductChart& c,
                const QLocale& locale) {
    layout.text(
        QStringLiteral("%1: %2").arg(productText(c.product), targetText(c, m.decimals, locale)),
        font(10, true), Qt::black, true, 0.8 * kMm);
    const std::vector<double> at{0,    0.15, 0.21, 0.28, 0.38, 0.46,
                                 0.53, 0.60, 0.67, 0.76, 0.86, 0.955};
    const QFont head = font(7, true);
    const QFont body = font(7.5);
    layout.row(
        {QStringLiteral("Lote"), QStringLiteral("Dosis"), QStringLiteral("Incompl."),
         QStringLiteral("Total kg"), QStringLiteral("Media kg"), QStringLiteral("Desv. típ."),
         QStringLiteral("Mínimo"), QStringLiteral("Máximo"), QStringLiteral("Desv. media"),
         QStringLiteral("Por debajo"), QStringLiteral("Por encima"), QStringLiteral("Cpk")},
        at, head, true);
    const QFontMetricsF fm(body, layout.device());
    const double lotWidth = (at[1] - at[0]) * layout.width() - kMm;
    for (const DoseGroup& g : m.groups) {
        if (g.product != c.product) continue;
        const FigureTexts t = figureTexts(g, m.decimals, locale);
        layout.row(
            {g.lot.isEmpty() ? QStringLiteral("sin lote") : fitted(g.lot, fm, lotWidth), t.doses,
             t.incomplete, orDash(t.total), orDash(t.mean), orDash(t.stdDev), orDash(t.min),
             orDash(t.max), orDash(t.meanDeviation), percentOf(t.below, t.belowPercent),
             percentOf(t.above, t.abovePercent), orDash(t.cpk)},
            at, body);
    }
    layout.space(2);
}

void addCharts(Layout& layout, const ProductChart& c, int decimals, const QLocale& locale) {
    if (c.finals.empty()) return;
    const double gap = 6 * kMm;
    const double w = (layout.width() - gap) / 2;
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
    const std::vector<double> at{0, 0.25, 0.5, 0.62};
    layout.row({QStringLiteral("Lote"), QStringLiteral("Producto"), QStringLiteral("Dosis"),
                QStringLiteral("Completado")},
               at, font(8, true), true);
    for (const CompletedLot& lot : m.lots)
        layout.row({lot.lot, productText(lot.product), QString::number(lot.doses),
                    logTimeText(lot.atMs, locale)},
                   at, font(8));
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
        addProduct(layout, m, c, locale);
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
