#include "dose_table.h"

#include <QBrush>
#include <QColor>

#include "cycle_detector.h"
#include "weight_format.h"

namespace {

const char* const kHeaders[] = {"Fecha", "Inicio",     "Fin",     "Teórico",   "Grueso",   "Fino",
                                "Final", "Desviación", "Desv. %", "Resultado", "Producto", "Lote"};

}  // namespace

DoseTable::DoseTable(QObject* parent) : QAbstractTableModel(parent) {}

void DoseTable::setNumberFormat(int decimals, const QLocale& locale) {
    beginResetModel();
    decimals_ = decimals;
    locale_ = locale;
    endResetModel();
    refilter();
}

double DoseTable::weight(qint64 steps) const {
    return stepsWeight(steps, decimals_);
}

QString DoseTable::weightText(qint64 steps) const {
    return weightText(weight(steps));
}

QString DoseTable::weightText(double value) const {
    return formatWeight(value, decimals_, locale_);
}

void DoseTable::show(const ModuleState& state) {
    state_ = state;
    if (!chosen_) filter_ = defaultFilter();
    refilter();
}

void DoseTable::choose(const std::optional<DoseFilter>& filter) {
    chosen_ = filter.has_value();
    filter_ = filter.value_or(defaultFilter());
    refilter();
}

DoseFilter DoseTable::defaultFilter() const {
    DoseFilter f;
    if (state_.product && !state_.product->isEmpty()) f.product = state_.product;
    if (!state_.lot.name.isEmpty()) f.lot = state_.lot.name;
    return f;
}

QStringList DoseTable::productChoices() const {
    QStringList names = state_.products;
    for (const DoseRecord& dose : state_.doses)
        if (dose.trace && !dose.trace->product.isEmpty() && !names.contains(dose.trace->product))
            names << dose.trace->product;
    return names;
}

QStringList DoseTable::lotChoices() const {
    QStringList lots;
    for (auto dose = state_.doses.crbegin(); dose != state_.doses.crend(); ++dose)
        if (dose->trace && !dose->trace->lot.isEmpty() && !lots.contains(dose->trace->lot))
            lots << dose->trace->lot;
    if (!state_.lot.name.isEmpty() && !lots.contains(state_.lot.name))
        lots.prepend(state_.lot.name);
    return lots;
}

void DoseTable::refilter() {
    QList<DoseRecord> shown = filtered(state_.doses, filter_);
    const std::span<const DoseRecord> span(shown.constData(), size_t(shown.size()));
    const DoseFigures figures = doseFigures(span, filter_, state_, decimals_);
    const qsizetype added = shown.size() - records_.size();
    // Newest on top: a dose of this run is row 0, so one more goes in without a reset.
    if (added == 1 && shown.size() > 1 && shown.at(shown.size() - 2) == records_.last()) {
        beginInsertRows({}, 0, 0);
        records_ = std::move(shown);
        endInsertRows();
    } else if (shown != records_) {
        beginResetModel();
        records_ = std::move(shown);
        endResetModel();
    }
    figures_ = figures;
    emit changed();
}

int DoseTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int DoseTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const DoseRecord& DoseTable::recordAt(int row) const {
    return records_[records_.size() - 1 - row];
}

QString DoseTable::cellText(const DoseRecord& r, int column) const {
    if (column == Porcentaje) {
        const auto percent = r.deviationPercent();
        return percent ? locale_.toString(*percent, 'f', 1) : QString();
    }
    // The file's own fields, so the table reads exactly as Dosificaciones.csv (a line
    // without a product and a lot has neither).
    const QStringList fields = doseLine(r, decimals_, locale_).split(QLatin1Char(';'));
    const int field = column < Porcentaje ? column : column - 1;
    return fields.value(field);
}

QVariant DoseTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const DoseRecord& r = recordAt(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return cellText(r, index.column());
        case Qt::TextAlignmentRole:
            return index.column() >= Teorico && index.column() <= Porcentaje
                       ? int(Qt::AlignRight | Qt::AlignVCenter)
                       : int(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ForegroundRole:
            if (outOfTolerance(r)) return QBrush(QColor(200, 0, 0));
            if (r.result == DoseResult::Incompleta) return QBrush(QColor(120, 120, 120));
            return {};
        case Qt::BackgroundRole:
            if (outOfTolerance(r)) return QBrush(QColor(255, 228, 228));
            return {};
        default:
            return {};
    }
}

QVariant DoseTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(kHeaders[section]);
}
