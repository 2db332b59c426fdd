#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "frm_peso.h"
#include "station.h"

class QApplication;
class LineWindow;
class StationModule;

// The station shown in its window: loads the core, shows what each of the core's modules
// emits in a frmPeso of its own and hands the operator's requests back to that module.
// One module: its frmPeso is the window, as it always was. Several: a LineWindow holds
// their panels below a row of module buttons.
class StationWindow : public QObject {
    Q_OBJECT
public:
    explicit StationWindow(QObject* parent = nullptr);
    ~StationWindow() override;

    // The core's load, then the window wired to it and the core started. The start-up
    // message box's text on failure.
    QString Form_Load();
    void Form_Unload();

    // The first module's panel.
    frmPeso& form() { return *form_; }
    // The window the station shows: the first module's panel, or the line's window.
    QWidget& window() { return *window_; }
    // The line's window when there are several modules, else nullptr.
    LineWindow* line() const { return line_; }
    Station& core() { return core_; }
    LinkWorker* worker() { return core_.worker(); }
    MqttPublisher* plant() { return core_.plant(); }

public slots:
    void Timer1_Timer() { core_.Timer1_Timer(); }

signals:
    // The window was closed: the station has unloaded.
    void unloading();

private:
    void connectWindow(StationModule& module, frmPeso& form);
    void showModule(StationModule& module, frmPeso& form);

    Station core_;
    frmPeso* form_;
    std::unique_ptr<QWidget> window_;
    LineWindow* line_ = nullptr;
};

// The program from load to exit, for main() and for tests that run the station in
// their own process. A start-up failure is written to stderr ("vormelq: <cause>") and
// shown in a message box; the result is 1 once the operator has closed the box, with
// the link already closed. Otherwise the result is the event loop's, after unload.
int runStation(QApplication& app);
