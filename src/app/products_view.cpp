#include "products_view.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The table's fields, in its order, as the operator reads them.
const char* const kCaptions[] = {"Nombre",       "Banda cero (kg)", "Grueso (kg)", "Fino (kg)",
                                 "Teórico (kg)", "Porcentaje",      "Tolerancia %"};

}  // namespace

ProductsView::ProductsView(QWidget* parent)
    : QWidget(parent),
      table_(new QTableWidget(0, int(std::size(kCaptions)), this)),
      add_(new QPushButton(QStringLiteral("Añadir"), this)),
      change_(new QPushButton(QStringLiteral("Cambiar"), this)),
      remove_(new QPushButton(QStringLiteral("Quitar"), this)),
      problem_(new QLabel(this)) {
    QStringList headers;
    for (const char* caption : kCaptions) headers << QString::fromUtf8(caption);
    table_->setHorizontalHeaderLabels(headers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->setAlternatingRowColors(true);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ProductsView::fillFromSelection);

    auto* form = new QGridLayout;
    for (size_t i = 0; i < fields_.size(); ++i) {
        auto* box = new QLineEdit(this);
        box->setAccessibleName(QString::fromUtf8(kCaptions[i]));
        auto* label = new QLabel(QString::fromUtf8(kCaptions[i]), this);
        label->setBuddy(box);
        form->addWidget(label, 0, int(i));
        form->addWidget(box, 1, int(i));
        connect(box, &QLineEdit::textChanged, this, &ProductsView::updateButtons);
        fields_[i] = box;
    }
    add_->setAccessibleName(QStringLiteral("Añadir producto"));
    change_->setAccessibleName(QStringLiteral("Cambiar producto"));
    remove_->setAccessibleName(QStringLiteral("Quitar producto"));
    for (QPushButton* button : {add_, change_, remove_}) button->setAutoDefault(false);
    connect(add_, &QPushButton::clicked, this, [this] { emit changeRequested({}, typed()); });
    connect(change_, &QPushButton::clicked, this,
            [this] { emit changeRequested(selected(), typed()); });
    connect(remove_, &QPushButton::clicked, this, [this] { emit changeRequested(selected(), {}); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(change_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);

    problem_->setObjectName(QStringLiteral("problemaProductos"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #c80000"));
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(problem_);
    updateButtons();
}

void ProductsView::show(const ModuleState& state, const QLocale& locale) {
    QList<QStringList> rows;
    if (state.table)
        for (const Product& p : state.table->products) rows << productFields(p, locale);
    if (rows != rows_) {
        const QString keep = selected();
        rows_ = rows;
        const QSignalBlocker quiet(table_);
        table_->clearSelection();
        table_->setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c)
                table_->setItem(r, c, new QTableWidgetItem(rows[r][c]));
        for (int r = 0; r < rows.size(); ++r)
            if (rows[r].first() == keep) table_->selectRow(r);
    }
    // A table that cannot be used is mended in the file: rewritten from here, the lines
    // that cannot be read would be lost.
    const bool usable = state.productProblem.isEmpty();
    for (QLineEdit* box : fields_) box->setEnabled(usable);
    if (!usable) problem_->setText(state.productProblem);
    updateButtons();
}

void ProductsView::showAnswer(const QString& refusal) {
    problem_->setText(refusal);
    if (refusal.isEmpty() && table_->selectedItems().isEmpty())
        for (QLineEdit* box : fields_) box->clear();
}

QStringList ProductsView::typed() const {
    QStringList texts;
    for (const QLineEdit* box : fields_) texts << box->text().trimmed();
    return texts;
}

QString ProductsView::selected() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    return items.isEmpty() ? QString() : rows_.value(items.first()->row()).value(0);
}

void ProductsView::fillFromSelection() {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    if (!items.isEmpty()) {
        const QStringList row = rows_.value(items.first()->row());
        for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->setText(row.value(int(i)));
    }
    updateButtons();
}

void ProductsView::updateButtons() {
    const bool usable = fields_[0]->isEnabled();
    const bool named = !fields_[0]->text().trimmed().isEmpty();
    const bool chosen = !selected().isEmpty();
    add_->setEnabled(usable && named);
    change_->setEnabled(usable && named && chosen);
    remove_->setEnabled(usable && chosen);
}
