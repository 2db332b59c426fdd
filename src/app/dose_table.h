#pragma once

#include <QAbstractTableModel>
#include <QByteArrayList>
#include <QLocale>
#include <optional>

#include "dose_record.h"
#include "module_state.h"

// The cycles the "Dosificaciones" window shows, newest on top, with their figures: the
// module's doses as the station keeps them (the file's last ones at start and every one
// of this run), whether the window is open or not.
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

    void show(const ModuleState& state);

    const DoseStats& stats() const { return stats_; }
    const std::optional<qint64>& suggestion() const { return suggestion_; }

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

    QList<DoseRecord> records_;  // oldest first
    DoseStats stats_;
    std::optional<qint64> suggestion_;
    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
};
