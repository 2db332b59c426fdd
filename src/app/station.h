#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

#include "frm_peso.h"
#include "startup_config.h"

class DirectoryLock;
class LinkWorker;
class QApplication;

// The station's life from load to unload: reads the configuration, opens the link on
// the worker thread, wires the window to the worker and runs the poll timer.
class Station : public QObject {
    Q_OBJECT
public:
    explicit Station(QObject* parent = nullptr);
    ~Station() override;

    // Takes the current directory for this station, reads modbus.ini there and opens
    // the link. On failure returns the Spanish description for the start-up message
    // box; the link is closed again. Another station in the directory is a failure
    // found before anything is read or opened.
    QString Form_Load();
    frmPeso& form() { return form_; }
    LinkWorker* worker() { return worker_; }

    // Stops the worker at once (a transaction in progress is abandoned within one
    // wait slice), closes the link and the log, and frees the directory. Safe to call
    // twice.
    void Form_Unload();

public slots:
    void Timer1_Timer();

private:
    void startWorker();
    void connectWindow();
    void queueWrite(const WriteRequest& request);

    std::unique_ptr<DirectoryLock> lock_;
    frmPeso form_;
    QThread thread_;
    LinkWorker* worker_ = nullptr;
    StartupConfig config_;
    bool pollPending_ = false;
};

// The program from load to exit, for main() and for tests that run the station in
// their own process. A start-up failure is written to stderr ("vormelq: <cause>") and
// shown in a message box; the result is 1 once the operator has closed the box, with
// the link already closed. Otherwise the result is the event loop's, after unload.
int runStation(QApplication& app);
