#pragma once

#include <QWidget>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableView;
class DoseTable;

// "Vormel-Q - Dosificaciones": the cycles and their figures. A window of its own,
// never modal; closing it only hides it. Each statistic's value label is named for
// what it shows ("ciclos", "media", "desviacionTipica", "minimo", "maximo",
// "desviacionMedia", "fueraTolerancia", "total", "finoSugerido"). With a product table,
// the doses shown are chosen by product and lot ("Filtro de producto", "Filtro de lote").
class DosingWindow : public QWidget {
    Q_OBJECT
public:
    explicit DosingWindow(DoseTable& doses, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    QTableView* table() const { return table_; }
    QComboBox* productFilter() const { return productFilter_; }
    QComboBox* lotFilter() const { return lotFilter_; }
    QPushButton* useButton() const { return usar_; }

signals:
    // "Usar": the suggested fine cut-off for the entry box, in display steps as every
    // entry is written.
    void useFine(qint64 steps);

private:
    QWidget* buildDosingTab();
    QLabel* addFigure(QGridLayout* grid, int row, int column, const QString& caption,
                      const QString& name);
    QWidget* buildFilterRow(QWidget* parent);
    // The operator's choice in the two lists.
    void chooseFromLists();
    void refresh();
    void refreshFilters();

    DoseTable& doses_;
    QTabWidget* tabs_;
    QTableView* table_ = nullptr;
    QWidget* filterRow_ = nullptr;
    QComboBox* productFilter_ = nullptr;
    QComboBox* lotFilter_ = nullptr;
    QPushButton* inForce_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* mean_ = nullptr;
    QLabel* stdDev_ = nullptr;
    QLabel* min_ = nullptr;
    QLabel* max_ = nullptr;
    QLabel* meanDeviation_ = nullptr;
    QLabel* outOfTolerance_ = nullptr;
    QLabel* total_ = nullptr;
    QLabel* suggestion_ = nullptr;
    QLabel* suggestionNote_ = nullptr;
    QPushButton* usar_ = nullptr;
};
