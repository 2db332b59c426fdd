#include "dosing_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

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

// What a filter's item stands for, beside its text.
enum Choice { Every, None, Named };

std::optional<QString> chosenName(const QComboBox* list) {
    switch (list->currentData().toInt()) {
        case None:
            return QString();
        case Named:
            return list->currentText();
        default:
            return std::nullopt;
    }
}

// The list's items as "Todos", `names`, then `none`, with `current` selected; left as it is
// when it already holds them, so that an open list stays open as the doses come in.
void setChoices(QComboBox* list, const QStringList& names, const QString& none,
                const std::optional<QString>& current) {
    QStringList items{QStringLiteral("Todos")};
    items << names << none;
    QStringList had;
    for (int i = 0; i < list->count(); ++i) had << list->itemText(i);
    const QSignalBlocker quiet(list);
    if (had != items) {
        list->clear();
        list->addItem(items.first(), Every);
        for (const QString& name : names) list->addItem(name, Named);
        list->addItem(none, None);
    }
    int index = 0;
    if (current) index = current->isEmpty() ? list->count() - 1 : int(names.indexOf(*current)) + 1;
    list->setCurrentIndex(std::max(index, 0));
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
    layout->addWidget(buildFilterRow(page));
    layout->addWidget(figures);
    layout->addWidget(suggestionBox);
    layout->addWidget(table_, 1);
    return page;
}

QWidget* DosingWindow::buildFilterRow(QWidget* parent) {
    filterRow_ = new QWidget(parent);
    auto* row = new QHBoxLayout(filterRow_);
    row->setContentsMargins(0, 0, 0, 0);
    const auto addList = [&](const QString& caption, const QString& name) {
        auto* list = new QComboBox(filterRow_);
        list->setAccessibleName(name);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        list->setMinimumContentsLength(16);
        auto* label = new QLabel(caption, filterRow_);
        label->setBuddy(list);
        row->addWidget(label);
        row->addWidget(list);
        connect(list, &QComboBox::activated, this, &DosingWindow::chooseFromLists);
        return list;
    };
    productFilter_ = addList(QStringLiteral("&Producto:"), QStringLiteral("Filtro de producto"));
    lotFilter_ = addList(QStringLiteral("&Lote:"), QStringLiteral("Filtro de lote"));
    inForce_ = new QPushButton(QStringLiteral("En vigor"), filterRow_);
    inForce_->setAutoDefault(false);
    inForce_->setToolTip(QStringLiteral("Muestra el producto en vigor y el lote actual"));
    connect(inForce_, &QPushButton::clicked, this, [this] { doses_.choose(std::nullopt); });
    row->addWidget(inForce_);
    row->addStretch(1);
    return filterRow_;
}

void DosingWindow::chooseFromLists() {
    doses_.choose(DoseFilter{chosenName(productFilter_), chosenName(lotFilter_)});
}

void DosingWindow::refreshFilters() {
    const bool products = doses_.state().productsKept;
    filterRow_->setVisible(products);
    table_->setColumnHidden(DoseTable::Producto, !products);
    table_->setColumnHidden(DoseTable::Lote, !products);
    if (!products) return;
    setChoices(productFilter_, doses_.productChoices(), QStringLiteral("sin producto"),
               doses_.filter().product);
    setChoices(lotFilter_, doses_.lotChoices(), QStringLiteral("sin lote"), doses_.filter().lot);
    inForce_->setEnabled(doses_.chosen());
}

void DosingWindow::refresh() {
    refreshFilters();
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
    const std::optional<QString>& product = doses_.filter().product;
    const QString of = product && !product->isEmpty()
                           ? QStringLiteral("de %1 con sus valores").arg(*product)
                           : QStringLiteral("con los valores en vigor");
    suggestionNote_->setText(
        fine ? QStringLiteral("según los %1 últimos ciclos completos %2; "
                              "«Usar» escribe %3 en la casilla del fino")
                   .arg(kSuggestionCycles)
                   .arg(of)
                   .arg(*fine)
             : QStringLiteral("hacen falta %1 ciclos completos %2").arg(kSuggestionCycles).arg(of));
    usar_->setEnabled(fine.has_value());
}
