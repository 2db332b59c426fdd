#include "dose_table.h"

#include <QBrush>
#include <QColor>

#include "cycle_detector.h"
#include "weight_format.h"

namespace {

const char* const kHeaders[] = {"Fecha", "Inicio", "Fin",        "Teórico", "Grueso",
                                "Fino",  "Final",  "Desviación", "Desv. %", "Resultado"};

}  // namespace

DoseTable::DoseTable(QObject* parent) : QAbstractTableModel(parent) {}

void DoseTable::setNumberFormat(int decimals, const QLocale& locale) {
    beginResetModel();
    decimals_ = decimals;
    locale_ = locale;
    endResetModel();
    emit changed();
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
    const bool figures = state.stats != stats_ || state.suggestedFine != suggestion_;
    stats_ = state.stats;
    suggestion_ = state.suggestedFine;
    const qsizetype added = state.doses.size() - records_.size();
    // Newest on top: a dose of this run is row 0, so one more goes in without a reset.
    if (added == 1 && state.doses.size() > 1 &&
        state.doses.at(state.doses.size() - 2) == records_.last()) {
        beginInsertRows({}, 0, 0);
        records_ = state.doses;
        endInsertRows();
    } else if (added != 0 || state.doses != records_) {
        beginResetModel();
        records_ = state.doses;
        endResetModel();
    } else if (!figures) {
        return;
    }
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
    // The file's own fields, so the table reads exactly as Dosificaciones.csv.
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
