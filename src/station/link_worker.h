#pragma once

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QLocale>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <atomic>
#include <memory>
#include <vector>

#include "change_line.h"
#include "dose_log.h"
#include "dose_record.h"
#include "poll_cycle.h"
#include "product_table.h"
#include "readers.h"
#include "record_paths.h"
#include "requests.h"
#include "startup_config.h"

class ChangeLog;
class DoseLog;
class Link;
class QTimer;
class SignalSink;
class StationModule;
class WeightLog;

// Owns the link and runs the transactions of the modules on it, one at a time, on its
// own thread: poll rounds (each module's cycle in turn) and operator writes. The window
// never waits on the link; it hears back through each module's signals (StationModule),
// queued, in the order they were sent.
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
    // failures of one run of writes are reported once (writeFailed). `module` is the
    // module's place on this link, as addModule gave it: the write goes to its address
    // only, and a failure gives up only its writes.
    void enqueueWrite(int module, const WriteRequest& request);

    // Worker thread, for tests: an already open link (a scripted one).
    void useLink(std::unique_ptr<Link> link);

    // Worker thread, after addModule: the newest changes on record, oldest first.
    QList<ChangeLine> lastChanges(int module, int count) const;
    // After recordDoses: the dosing record's newest `count` lines, oldest first.
    QByteArrayList lastDoseLines(int module, int count) const;

    // Any thread: how long the worker has been on the step of a job it is on (one
    // module's cycle of a round, one write), in ms; 0 while it waits for work. A step
    // far longer than a silent module's attempts is a poll loop that is stuck.
    qint64 stepAgeMs() const;

public slots:
    // Worker thread. Opens the serial port (an error text naming the cause when it
    // fails) or starts the TCP connection (never fails here: a module that is not
    // there shows up as no communication).
    QString openLink(const StartupConfig& config);
    // After openLink: one more module on this link, at `slaveId`, its values emitted on
    // `out`, its weights and changes recorded in `records`. Returns its place on the link.
    int addModule(StationModule* out, int slaveId, int decimals, const QLocale& locale,
                  const ModuleRecords& records);
    // After addModule: keeps the dosing record of `records` over the module's readings.
    void recordDoses(int module, const ModuleRecords& records, double tolerancePercent);
    // The product table, already checked for the module (an unusable one has no products):
    // from the next poll on, the module's product in force is worked out after each poll
    // and every dose line says what it was. Null: no table, the lines as they always were.
    void useProducts(int module, std::shared_ptr<const ProductTable> table);
    // The lot the doses that begin from now on are of, counted from none; an empty name
    // for none. Told back as lotChanged.
    void setLot(int module, const Lot& lot);
    // After recordDoses: the lot kept from the last run.
    Lot lot(int module) const;
    // One round: each module's cycle in turn, a silent one on a shared line only when its
    // time to be asked again has come.
    void poll();
    // From now on a round every `periodMs`, or at once when the last one took longer
    // (no backlog), paced here: a round that is due starts as soon as the last one ends,
    // and what the last one's final block brought goes out behind its first request.
    void startRounds(int periodMs);
    void runWrites();
    void closeLink();
    // One line of Cambios.csv for an outcome known now; the window's own outcomes (an
    // entry out of range) come here. Every writeFinished of the worker is recorded.
    void recordChange(int module, const WriteOutcome& outcome);

signals:
    void pollFinished();

private:
    // One module on the link: its reader, its records and what was last reported of it.
    struct Module {
        int index = 0;  // place on the link
        StationModule* out = nullptr;
        std::unique_ptr<SignalSink> sink;  // its poll's reports, as `out`'s signals
        int slaveId = 0;
        int decimals = 0;
        QLocale locale;
        std::unique_ptr<Instrument> instrument;
        std::unique_ptr<WeightLog> log;
        std::unique_ptr<ChangeLog> changes;
        std::unique_ptr<DoseLog> doses;
        int reportedPending = 0;
        int reportedChanges = 0;
        int reportedDosePending = 0;
        std::optional<Setpoints> lastSetpoints;
        std::shared_ptr<const ProductTable> products;
        std::optional<QString> product;  // in force, with a table; empty for none
        std::optional<bool> answering;
        // Silent on a shared line: not asked again before this.
        QDeadlineTimer askAgain{0};
    };
    struct QueuedWrite {
        int module = 0;
        WriteRequest request;
        QDeadlineTimer sendBy;
    };
    bool takeWrite(QueuedWrite* write);
    QList<QueuedWrite> takeAllWrites(int module);
    // False when a write got no answer (that module's rest were dropped and the failure
    // reported) or a stop request cut the writes short.
    bool sendQueuedWrites();
    WriteOutcome send(const QueuedWrite& write);
    void finish(Module& module, const WriteOutcome& outcome);
    void pollModule(Module& module);
    void makeInstrument(Module& module);
    bool sharedLine() const { return modules_.size() > 1; }
    void reportLog(Module& module);
    void reportChanges(Module& module);
    void recordDose(Module& module, const PollOutcome& outcome);
    void reportOutcome(Module& module, const PollOutcome& outcome, bool answering);
    void noteProduct(Module& module, const Setpoints& setpoints);
    void traceDoses(Module& module);
    void noteAnswering(Module& module, const QDateTime& when, bool answering);
    void stepBegins();
    void stepsEnd();

    std::unique_ptr<Link> link_;
    std::vector<std::unique_ptr<Module>> modules_;
    // The poll timer, on this thread: the next round, once startRounds has set the period.
    QTimer* Timer1 = nullptr;
    int periodMs_ = 0;
    SessionOperator session_;
    QMutex queueMutex_;
    QQueue<QueuedWrite> writes_;
    std::atomic<qint64> stepStart_{0};  // the monotonic clock's ms; 0: waiting for work
};

// Registers the value types the worker's signals carry across threads.
void registerLinkWorkerTypes();
