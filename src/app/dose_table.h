#pragma once

#include <QAbstractTableModel>
#include <QByteArrayList>
#include <QLocale>
#include <optional>
#include <vector>

#include "dose_record.h"

// The cycles of the record's newest lines (DoseLog::newestLines), oldest first; lines
// that do not read are left out.
std::vector<DoseRecord> doseHistory(const QByteArrayList& lines, DateOrder order, int decimals);

// The cycles the "Dosificaciones" window shows, newest on top: the file's last ones at
// start and every one of this run. Kept from the start whether the window is open or
// not, as the chart's readings are; the statistics and the suggested fine cut-off are
// always over what it holds.
class DoseTable : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Fecha,
        Inicio,
        Fin,
        Teorico,
        Grueso,
        Fino,
        Final,
        Desviacion,
        Porcentaje,
        Resultado,
        ColumnCount
    };

    explicit DoseTable(QObject* parent = nullptr);

    void setNumberFormat(int decimals, const QLocale& locale);
    const QLocale& locale() const { return locale_; }
    // A weight in display steps as the window writes it.
    QString weightText(qint64 steps) const;
    double weight(qint64 steps) const;
    QString weightText(double value) const;

    // Oldest first, before this run's.
    void setHistory(std::vector<DoseRecord> records);
    void add(const DoseRecord& record);
    // The setpoints in force, for the suggestion.
    void setSetpoints(const DoseSetpoints& setpoints);

    DoseStats stats() const;
    std::optional<qint64> suggestion() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // Statistics or suggestion may read differently.
    void changed();

private:
    const DoseRecord& recordAt(int row) const;
    QString cellText(const DoseRecord& record, int column) const;

    std::vector<DoseRecord> records_;  // oldest first
    std::optional<DoseSetpoints> setpoints_;
    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
};
