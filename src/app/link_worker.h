#pragma once

#include <QLocale>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <memory>

#include "dose_record.h"
#include "poll_cycle.h"
#include "readers.h"
#include "requests.h"
#include "startup_config.h"

class DoseLog;
class Link;
class WeightLog;

// Owns the link and runs the station's transactions, one at a time, on its own
// thread: poll cycles and operator writes. The window never waits on the link; it
// hears back through the queued signals below, in the order they were sent.
class LinkWorker : public QObject {
    Q_OBJECT
public:
    explicit LinkWorker(QObject* parent = nullptr);
    ~LinkWorker() override;

    // Any thread. Writes run in order between the blocks of a poll while the module
    // answers, otherwise after the poll, or on their own when the link is idle. A
    // command is sent promptly or not at all: when a write fails, it and every write
    // asked for before the failure are given up, and reported once (writeFailed).
    void enqueueWrite(const WriteRequest& request);

    // Worker thread, for tests: an already open link (a scripted one).
    void useLink(std::unique_ptr<Link> link);

public slots:
    // Worker thread. Opens the serial port (an error text naming the cause when it
    // fails) or starts the TCP connection (never fails here: a module that is not
    // there shows up as no communication).
    QString openLink(const StartupConfig& config);
    void configure(int slaveId, int decimals, const QLocale& locale, const QString& logPath);
    // After configure: keeps the dosing record `dosePath` over the polls' readings.
    void recordDoses(const QString& dosePath, double tolerancePercent);
    void poll();
    void runWrites();
    void closeLink();

signals:
    void displayRead(const QByteArray& image);
    void weightsRead(const WeightReading& weights);
    void setpointsRead(const Setpoints& setpoints);
    void readbackRead(const CommandReadback& readback);
    void communicationLost();
    void writeFailed();
    // The log lines not yet in the log file, whenever their count changes.
    void logPending(int count);
    // The same for the dosing record's lines.
    void dosePending(int count);
    // A dosing cycle's final weight, as soon as the poll that settled it, judged
    // against the tolerance (the window's notice); and the cycle as recorded at its end.
    void doseFinalTaken(const DoseRecord& record);
    void doseEnded(const DoseRecord& record);
    void pollFinished();

private:
    bool takeWrite(WriteRequest* request);
    void dropQueuedWrites();
    // False when a write failed (the rest were dropped and the failure reported).
    bool sendQueuedWrites();
    bool send(const WriteRequest& request);
    void afterJob();
    void reportLog();
    void recordDose(const PollOutcome& outcome);

    std::unique_ptr<Link> link_;
    std::unique_ptr<Instrument> instrument_;
    std::unique_ptr<WeightLog> log_;
    std::unique_ptr<DoseLog> doses_;
    int decimals_ = 0;
    QLocale locale_;
    int slaveId_ = 0;
    QMutex queueMutex_;
    QQueue<WriteRequest> writes_;
    int reportedPending_ = 0;
    int reportedDosePending_ = 0;
    bool inJob_ = false;         // a poll or a run of writes is under way on the worker thread
    bool pollDeferred_ = false;  // a poll delivered inside a job, run once it ends
};

// Registers the value types the worker's signals carry across threads.
void registerLinkWorkerTypes();
