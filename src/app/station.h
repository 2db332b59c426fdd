#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <memory>

#include "frm_peso.h"
#include "mqtt_publisher.h"
#include "startup_config.h"

class DirectoryLock;
class LinkWorker;

// Beside Peso.csv: the messages the plant's broker has not acknowledged yet, kept across
// restarts (the directory's other records share its lock).
constexpr const char* kMqttOutboxDir = "MQTT.pendiente";
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
    // The plant's broker, or nullptr when modbus.ini names none. Its calls return at
    // once from any thread: the records' signals may reach it directly.
    MqttPublisher* plant() { return plant_.get(); }

    // Stops the worker at once (a transaction in progress is abandoned within one
    // wait slice), closes the link and the log, and frees the directory. Safe to call
    // twice. A worker that has not stopped within kWorkerStopMs ends the process
    // (status 1, a line on stderr).
    void Form_Unload();
    static constexpr int kWorkerStopMs = 1000;

public slots:
    void Timer1_Timer();

private:
    void startWorker();
    void connectWindow();
    void connectPlant(const MqttConfig& config);
    void queueWrite(const WriteRequest& request);

    std::unique_ptr<DirectoryLock> lock_;
    frmPeso form_;
    QThread thread_;
    LinkWorker* worker_ = nullptr;
    StartupConfig config_;
    std::unique_ptr<MqttPublisher> plant_;
    QTimer plantStatusTimer_;
    bool pollPending_ = false;
};

// The program from load to exit, for main() and for tests that run the station in
// their own process. A start-up failure is written to stderr ("vormelq: <cause>") and
// shown in a message box; the result is 1 once the operator has closed the box, with
// the link already closed. Otherwise the result is the event loop's, after unload.
int runStation(QApplication& app);
