#include "dosing_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "dose_table.h"
#include "report_dialog.h"

namespace {

QLabel* valueLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for a large weight from the start, so the figures do not shift as they grow.
    label->setMinimumWidth(QFontMetrics(font).horizontalAdvance(QStringLiteral("-88888,888 kg")));
    return label;
}

}  // namespace

DosingWindow::DosingWindow(DoseTable& doses, QWidget* parent)
    : QWidget(parent, Qt::Window), doses_(doses), tabs_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Vormel-Q - Dosificaciones"));
    tabs_->addTab(buildDosingTab(), QStringLiteral("Dosificaciones"));
    tabs_->setCornerWidget(reportButton(this, QDir::current()));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    resize(900, 600);

    connect(&doses_, &DoseTable::changed, this, &DosingWindow::refresh);
    refresh();
}

QLabel* DosingWindow::addFigure(QGridLayout* grid, int row, int column, const QString& caption,
                                const QString& name) {
    auto* title = new QLabel(caption, this);
    auto* value = valueLabel(name, this);
    title->setBuddy(value);
    grid->addWidget(title, row, 2 * column, Qt::AlignRight);
    grid->addWidget(value, row, 2 * column + 1, Qt::AlignLeft);
    return value;
}

QWidget* DosingWindow::buildDosingTab() {
    auto* page = new QWidget;

    auto* figures = new QGroupBox(QStringLiteral("Ciclos completos mostrados"), page);
    auto* grid = new QGridLayout(figures);
    count_ = addFigure(grid, 0, 0, QStringLiteral("Ciclos:"), QStringLiteral("ciclos"));
    mean_ = addFigure(grid, 0, 1, QStringLiteral("Media:"), QStringLiteral("media"));
    stdDev_ = addFigure(grid, 0, 2, QStringLiteral("Desviación típica:"),
                        QStringLiteral("desviacionTipica"));
    total_ = addFigure(grid, 0, 3, QStringLiteral("Total dosificado:"), QStringLiteral("total"));
    min_ = addFigure(grid, 1, 0, QStringLiteral("Mínimo:"), QStringLiteral("minimo"));
    max_ = addFigure(grid, 1, 1, QStringLiteral("Máximo:"), QStringLiteral("maximo"));
    meanDeviation_ = addFigure(grid, 1, 2, QStringLiteral("Desviación media:"),
                               QStringLiteral("desviacionMedia"));
    outOfTolerance_ = addFigure(grid, 1, 3, QStringLiteral("Fuera de tolerancia:"),
                                QStringLiteral("fueraTolerancia"));
    for (int c = 1; c < 8; c += 2) grid->setColumnStretch(c, 1);

    auto* suggestionBox = new QGroupBox(QStringLiteral("Corte fino sugerido"), page);
    auto* row = new QHBoxLayout(suggestionBox);
    suggestion_ = valueLabel(QStringLiteral("finoSugerido"), suggestionBox);
    suggestionNote_ = new QLabel(suggestionBox);
    usar_ = new QPushButton(QStringLiteral("Usar"), suggestionBox);
    usar_->setAutoDefault(false);
    usar_->setToolTip(QStringLiteral("Lo pone en la casilla del corte fino; se envía con su «->»"));
    connect(usar_, &QPushButton::clicked, this, [this] {
        if (const auto fine = doses_.suggestion()) emit useFine(*fine);
    });
    row->addWidget(suggestion_);
    row->addWidget(suggestionNote_, 1);
    row->addWidget(usar_);

    table_ = new QTableView(page);
    table_->setModel(&doses_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->setAlternatingRowColors(true);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(figures);
    layout->addWidget(suggestionBox);
    layout->addWidget(table_, 1);
    return page;
}

void DosingWindow::refresh() {
    const DoseStats s = doses_.stats();
    const QString kg = QStringLiteral(" kg");
    auto weight = [&](double v) { return s.count > 0 ? doses_.weightText(v) + kg : QString(); };
    count_->setText(QString::number(s.count));
    mean_->setText(weight(s.meanFinal));
    stdDev_->setText(s.count > 1 ? weight(s.stdDev) : QString());
    min_->setText(weight(s.minFinal));
    max_->setText(weight(s.maxFinal));
    meanDeviation_->setText(weight(s.meanDeviation));
    outOfTolerance_->setText(
        s.count > 0 ? QStringLiteral("%1 (%2 %)")
                          .arg(s.outOfTolerance)
                          .arg(doses_.locale().toString(s.outOfTolerancePercent, 'f', 1))
                    : QString());
    total_->setText(weight(s.totalDosed));

    const auto fine = doses_.suggestion();
    suggestion_->setText(fine ? doses_.weightText(*fine) + kg : QStringLiteral("—"));
    // The box takes what the module's register holds, so the note says what "Usar" puts
    // there when the weight has decimals.
    suggestionNote_->setText(
        fine ? QStringLiteral("según los %1 últimos ciclos completos con los valores en vigor; "
                              "«Usar» escribe %2 en la casilla del fino")
                   .arg(kSuggestionCycles)
                   .arg(*fine)
             : QStringLiteral("hacen falta %1 ciclos completos con los valores en vigor")
                   .arg(kSuggestionCycles));
    usar_->setEnabled(fine.has_value());
}
