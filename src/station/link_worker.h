#pragma once

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QLocale>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <memory>

#include "change_line.h"
#include "dose_record.h"
#include "poll_cycle.h"
#include "readers.h"
#include "requests.h"
#include "startup_config.h"

class ChangeLog;
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

    // Any thread, at the press: the write's deadline starts now. Writes run in order
    // before any attempt of a poll's block reads, after the poll, or on their own when the
    // link is idle. A command is sent promptly or not at all: one whose deadline is over
    // is given up unsent; when a write gets no answer, it and every write asked for
    // before the failure are given up. Each request ends in one writeFinished; the
    // failures of one run of writes are reported once (writeFailed).
    void enqueueWrite(const WriteRequest& request);

    // Worker thread, for tests: an already open link (a scripted one).
    void useLink(std::unique_ptr<Link> link);

    // Worker thread, after configure: the newest changes on record, oldest first.
    QList<ChangeLine> lastChanges(int count) const;
    // After recordDoses: the dosing record's newest `count` lines, oldest first.
    QByteArrayList lastDoseLines(int count) const;

public slots:
    // Worker thread. Opens the serial port (an error text naming the cause when it
    // fails) or starts the TCP connection (never fails here: a module that is not
    // there shows up as no communication).
    QString openLink(const StartupConfig& config);
    // Cambios.csv goes beside the weight log.
    void configure(int slaveId, int decimals, const QLocale& locale, const QString& logPath);
    // After configure: keeps the dosing record `dosePath` over the polls' readings.
    void recordDoses(const QString& dosePath, double tolerancePercent);
    void poll();
    void runWrites();
    void closeLink();
    // One line of Cambios.csv for an outcome known now; the window's own outcomes (an
    // entry out of range) come here. Every writeFinished of the worker is recorded.
    void recordChange(const WriteOutcome& outcome);

signals:
    void displayRead(const QByteArray& image);
    void weightsRead(const WeightReading& weights);
    void setpointsRead(const Setpoints& setpoints);
    void readbackRead(const CommandReadback& readback);
    void communicationLost();
    void writeFailed();
    void writeFinished(const WriteOutcome& outcome);
    // The log lines not yet in the log file, whenever their count changes.
    void logPending(int count);
    // Each line of Cambios.csv as written, and the lines not yet in it when their count
    // changes.
    void changeRecorded(const ChangeLine& line);
    void changesPending(int count);
    // The same for the dosing record's lines.
    void dosePending(int count);
    // A dosing cycle's final weight, as soon as the poll that settled it, judged
    // against the tolerance (the window's notice); and the cycle as recorded at its end.
    void doseFinalTaken(const DoseRecord& record);
    void doseEnded(const DoseRecord& record);
    // For the records kept beside the log, emitted on the worker thread as the poll goes:
    // each line written to the log with the time it carries; the setpoints read back
    // when they differ from the last ones; the module starting or ceasing to answer.
    void weightsLogged(const QDateTime& when, const WeightReading& weights);
    void setpointsChanged(const QDateTime& when, const Setpoints& setpoints);
    void answeringChanged(const QDateTime& when, bool answering);
    void pollFinished();

private:
    struct QueuedWrite {
        WriteRequest request;
        QDeadlineTimer sendBy;
    };
    bool takeWrite(QueuedWrite* write);
    QList<QueuedWrite> takeAllWrites();
    // False when a write got no answer (the rest were dropped and the failure reported)
    // or a stop request cut the writes short.
    bool sendQueuedWrites();
    WriteOutcome send(const QueuedWrite& write);
    void finish(const WriteOutcome& outcome);
    void afterJob();
    void reportLog();
    void reportChanges();
    void recordDose(const PollOutcome& outcome);
    void reportOutcome(const PollOutcome& outcome, bool answering);
    void noteAnswering(const QDateTime& when, bool answering);

    std::unique_ptr<Link> link_;
    std::unique_ptr<Instrument> instrument_;
    std::unique_ptr<WeightLog> log_;
    std::unique_ptr<ChangeLog> changes_;
    SessionOperator session_;
    std::unique_ptr<DoseLog> doses_;
    int decimals_ = 0;
    QLocale locale_;
    int slaveId_ = 0;
    QMutex queueMutex_;
    QQueue<QueuedWrite> writes_;
    int reportedPending_ = 0;
    int reportedChanges_ = 0;
    int reportedDosePending_ = 0;
    std::optional<Setpoints> lastSetpoints_;
    std::optional<bool> answering_;
    bool inJob_ = false;         // a poll or a run of writes is under way on the worker thread
    bool pollDeferred_ = false;  // a poll delivered inside a job, run once it ends
};

// Registers the value types the worker's signals carry across threads.
void registerLinkWorkerTypes();
