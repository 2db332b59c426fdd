#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include "module_state.h"

class QPushButton;
class QStackedWidget;
class StationModule;
class frmPeso;

// The window of a station driving several modules: a row of module buttons above the
// selected module's panel. Each panel is a whole frmPeso, fed by its own module, so what
// is typed or clicked on one can only ever go to that module.
class LineWindow : public QWidget {
    Q_OBJECT
public:
    explicit LineWindow(QWidget* parent = nullptr);

    // Takes `panel`, fed by `module`, with a button for it; the first becomes selected.
    void addPanel(frmPeso* panel, const StationModule& module);
    // Shows module `index` (from 0): its panel, its name in the title. On a switch, every
    // entry box of every panel is emptied, so a value half typed for one module is never sent to
    // another, and sends nothing until it is typed into again.
    void select(int index);
    int selected() const;
    QPushButton* button(int index) const { return entries_.at(index).button; }
    frmPeso* panel(int index) const { return entries_.at(index).panel; }

signals:
    void unloading();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Entry {
        frmPeso* panel = nullptr;
        QPushButton* button = nullptr;
        QString name;
        QString net;
        ModuleState state;
    };
    void watch(int index, const StationModule& module);
    void refresh(int index);

    QWidget* row_;
    QStackedWidget* stack_;
    QList<Entry> entries_;
};
