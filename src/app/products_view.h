#pragma once

#include <QStringList>
#include <QWidget>
#include <array>

#include "module_state.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The "Productos" tab of the "Dosificaciones" window: the product table as the station
// holds it, and a row of boxes to add a product, change the one selected or remove it.
// The station rewrites Productos.csv and records each change; the tab only asks, and says
// in red why a change was not made.
class ProductsView : public QWidget {
    Q_OBJECT
public:
    explicit ProductsView(QWidget* parent = nullptr);

    void show(const ModuleState& state, const QLocale& locale);
    // The station's answer to the last request: empty when it was done.
    void showAnswer(const QString& refusal);

    QTableWidget* table() const { return table_; }
    QLineEdit* field(int index) const { return fields_[size_t(index)]; }
    QPushButton* addButton() const { return add_; }
    QPushButton* changeButton() const { return change_; }
    QPushButton* removeButton() const { return remove_; }
    QLabel* problem() const { return problem_; }

signals:
    // In place of `before` (empty: a new one) the product of `fields`, or none when empty.
    void changeRequested(const QString& before, const QStringList& fields);

private:
    QStringList typed() const;
    QString selected() const;
    void fillFromSelection();
    void updateButtons();

    QTableWidget* table_;
    std::array<QLineEdit*, 7> fields_{};
    QPushButton* add_;
    QPushButton* change_;
    QPushButton* remove_;
    QLabel* problem_;
    QList<QStringList> rows_;
};
