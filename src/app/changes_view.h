#pragma once

#include <QList>
#include <QWidget>

#include "change_line.h"

class QTableWidget;

// The operator's last changes, newest on top: the record of Cambios.csv as a table, for
// a tab of its own ("Cambios").
class ChangesView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShown = 200;

    explicit ChangesView(QWidget* parent = nullptr);
    QTableWidget* table() const { return table_; }

public slots:
    // Lines oldest first, as Cambios.csv holds them.
    void setLines(const QList<ChangeLine>& lines);
    void addLine(const ChangeLine& line);

private:
    QTableWidget* table_;
};
