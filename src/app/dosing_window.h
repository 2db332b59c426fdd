#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableView;
class DoseTable;

// "Vormel-Q - Dosificaciones": the cycles and their figures. A window of its own,
// never modal; closing it only hides it. Each statistic's value label is named for
// what it shows ("ciclos", "media", "desviacionTipica", "minimo", "maximo",
// "desviacionMedia", "fueraTolerancia", "total", "finoSugerido").
class DosingWindow : public QWidget {
    Q_OBJECT
public:
    explicit DosingWindow(DoseTable& doses, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    QTableView* table() const { return table_; }
    QPushButton* useButton() const { return usar_; }

signals:
    // "Usar": the suggested fine cut-off, as the window writes it, for the entry box.
    void useFine(const QString& text);

private:
    QWidget* buildDosingTab();
    QLabel* addFigure(QGridLayout* grid, int row, int column, const QString& caption,
                      const QString& name);
    void refresh();

    DoseTable& doses_;
    QTabWidget* tabs_;
    QTableView* table_ = nullptr;
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
