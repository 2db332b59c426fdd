#include "dose_table.h"

#include <QBrush>
#include <QColor>

#include "cycle_detector.h"
#include "weight_format.h"

namespace {

const char* const kHeaders[] = {"Fecha", "Inicio", "Fin",        "Teórico", "Grueso",
                                "Fino",  "Final",  "Desviación", "Desv. %", "Resultado"};

}  // namespace

std::vector<DoseRecord> doseHistory(const QByteArrayList& lines, DateOrder order, int decimals) {
    std::vector<DoseRecord> records;
    for (const QByteArray& line : lines)
        if (auto record = parseDoseLine(line, order, decimals)) records.push_back(*record);
    return records;
}

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

void DoseTable::setHistory(std::vector<DoseRecord> records) {
    beginResetModel();
    records.insert(records.end(), records_.begin(), records_.end());
    records_ = std::move(records);
    endResetModel();
    emit changed();
}

void DoseTable::add(const DoseRecord& record) {
    // Newest on top: the new cycle is row 0.
    beginInsertRows({}, 0, 0);
    records_.push_back(record);
    endInsertRows();
    emit changed();
}

void DoseTable::setSetpoints(const DoseSetpoints& setpoints) {
    if (setpoints_ == setpoints) return;
    setpoints_ = setpoints;
    emit changed();
}

DoseStats DoseTable::stats() const {
    return doseStats(records_, decimals_);
}

std::optional<qint64> DoseTable::suggestion() const {
    if (!setpoints_) return std::nullopt;
    return suggestedFine(records_, *setpoints_);
}

int DoseTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int DoseTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const DoseRecord& DoseTable::recordAt(int row) const {
    return records_[records_.size() - 1 - static_cast<size_t>(row)];
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
