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
        Producto,
        Lote,
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
    const ModuleState& state() const { return state_; }

    // The doses shown: by default those of the product in force and the current lot
    // (every one where there is none), following them as they change, until the operator
    // chooses; `std::nullopt` goes back to the default.
    void choose(const std::optional<DoseFilter>& filter);
    const DoseFilter& filter() const { return filter_; }
    bool chosen() const { return chosen_; }
    // What the filters offer besides "every one" and "none": the table's products, then
    // the other names the doses carry; the lots the doses and the module carry.
    QStringList productChoices() const;
    QStringList lotChoices() const;

    // The figures of the doses shown.
    const DoseStats& stats() const { return figures_.stats; }
    const std::optional<qint64>& suggestion() const { return figures_.suggestedFine; }

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
    DoseFilter defaultFilter() const;
    // Takes the doses and figures `filter_` lets through, telling the view.
    void refilter();

    ModuleState state_;
    DoseFilter filter_;
    bool chosen_ = false;
    QList<DoseRecord> records_;  // those shown, oldest first
    DoseFigures figures_;
    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
};
