#include "line_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "frm_peso.h"
#include "station_module.h"
#include "weight_format.h"

namespace {

constexpr int kRowHeight = 44;

// Red while the module does not answer; an orange frame while a record of it waits or a
// dose notice of it is open.
QString buttonStyle(bool silent, bool marked, bool selected) {
    QString style = QStringLiteral("QPushButton {");
    if (silent) style += QStringLiteral(" background-color: #d00000; color: white;");
    style += marked ? QStringLiteral(" border: 3px solid #ff8c00;")
                    : QStringLiteral(" border: 1px solid #808080;");
    if (selected) style += QStringLiteral(" font-weight: bold;");
    return style + QStringLiteral(" }");
}

}  // namespace

LineWindow::LineWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(kStationTitle);
    row_ = new QWidget(this);
    row_->setFixedHeight(kRowHeight);
    auto* buttons = new QHBoxLayout(row_);
    buttons->setContentsMargins(4, 4, 4, 0);
    stack_ = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(row_);
    layout->addWidget(stack_);
}

void LineWindow::addPanel(frmPeso* panel, const StationModule& module) {
    const int index = static_cast<int>(entries_.size());
    Entry entry;
    entry.panel = panel;
    entry.name = module.name();
    entry.button = new QPushButton(row_);
    entry.button->setFixedHeight(kRowHeight - 4);
    row_->layout()->addWidget(entry.button);
    connect(entry.button, &QPushButton::clicked, this, [this, index] { select(index); });
    if (index < 8) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + index)), this);
        connect(shortcut, &QShortcut::activated, this, [this, index] { select(index); });
    }
    stack_->addWidget(panel);
    setFixedSize(panel->width(), panel->height() + kRowHeight);
    entries_ << entry;
    watch(index, module);
    if (index == 0) select(0);
    refresh(index);
}

void LineWindow::watch(int index, const StationModule& module) {
    const int decimals = module.decimals();
    const QLocale locale = module.locale();
    entries_[index].state = module.state();
    connect(&module, &StationModule::weightsRead, this,
            [this, index, decimals, locale](const WeightReading& w) {
                entries_[index].net = formatWeight(w.net, decimals, locale);
                refresh(index);
            });
    connect(&module, &StationModule::stateChanged, this, [this, index](const ModuleState& state) {
        entries_[index].state = state;
        refresh(index);
    });
}

void LineWindow::refresh(int index) {
    const Entry& e = entries_[index];
    QString title = e.name;
    if (e.state.product)
        title += QStringLiteral(" · ") +
                 (e.state.product->isEmpty() ? QStringLiteral("sin producto") : *e.state.product);
    e.button->setText(e.net.isEmpty() ? title : title + u'\n' + e.net);
    e.button->setStyleSheet(
        buttonStyle(e.state.silent(), e.state.needsAttention(), index == selected()));
}

void LineWindow::select(int index) {
    if (index < 0 || index >= entries_.size()) return;
    if (index != selected())
        for (const Entry& e : std::as_const(entries_)) e.panel->emptyEntries();
    stack_->setCurrentIndex(index);
    setWindowTitle(QStringLiteral("%1 - %2").arg(kStationTitle, entries_[index].name));
    for (int i = 0; i < entries_.size(); ++i) refresh(i);
}

int LineWindow::selected() const {
    return stack_->currentIndex();
}

void LineWindow::closeEvent(QCloseEvent* event) {
    emit unloading();
    event->accept();
}
