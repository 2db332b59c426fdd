#pragma once

#include <QObject>
#include <QString>

#include "frm_peso.h"
#include "station.h"

class QApplication;
class StationModule;

// The station shown in its window: loads the core, shows what the core's module emits
// in frmPeso and hands the operator's requests back to it.
class StationWindow : public QObject {
    Q_OBJECT
public:
    explicit StationWindow(QObject* parent = nullptr);
    ~StationWindow() override;

    // The core's load, then the window wired to it and the core started. The start-up
    // message box's text on failure.
    QString Form_Load();
    void Form_Unload();

    frmPeso& form() { return form_; }
    Station& core() { return core_; }
    LinkWorker* worker() { return core_.worker(); }
    MqttPublisher* plant() { return core_.plant(); }

public slots:
    void Timer1_Timer() { core_.Timer1_Timer(); }

private:
    void connectWindow(StationModule& module, frmPeso& form);

    Station core_;
    frmPeso form_;
};

// The program from load to exit, for main() and for tests that run the station in
// their own process. A start-up failure is written to stderr ("vormelq: <cause>") and
// shown in a message box; the result is 1 once the operator has closed the box, with
// the link already closed. Otherwise the result is the event loop's, after unload.
int runStation(QApplication& app);
