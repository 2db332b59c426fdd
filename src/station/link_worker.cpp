#include "link_worker.h"

#include <QDateTime>
#include <QMetaObject>
#include <QScopedValueRollback>
#include <utility>

#include "change_log.h"
#include "dose_log.h"
#include "link.h"
#include "serial_link.h"
#include "socket_link.h"
#include "weight_log.h"

namespace {

// Forwards each step of a poll cycle as the worker's signal.
class SignalSink : public PollSink {
public:
    explicit SignalSink(LinkWorker& worker) : worker_(worker) {}
    void displayRead(const DisplayImage& image) override { emit worker_.displayRead(image); }
    void weightsRead(const WeightReading& weights) override { emit worker_.weightsRead(weights); }
    void setpointsRead(const Setpoints& setpoints) override {
        emit worker_.setpointsRead(setpoints);
    }
    void readbackRead(const CommandReadback& readback) override {
        emit worker_.readbackRead(readback);
    }
    void communicationLost() override {
        lost = true;
        emit worker_.communicationLost();
    }

    bool lost = false;

private:
    LinkWorker& worker_;
};

}  // namespace

void registerLinkWorkerTypes() {
    qRegisterMetaType<WeightReading>();
    qRegisterMetaType<Setpoints>();
    qRegisterMetaType<CommandReadback>();
    qRegisterMetaType<WriteRequest>();
    qRegisterMetaType<WriteOutcome>();
    qRegisterMetaType<ChangeLine>();
    qRegisterMetaType<StartupConfig>();
    qRegisterMetaType<DoseRecord>();
}

LinkWorker::LinkWorker(QObject* parent) : QObject(parent) {}

LinkWorker::~LinkWorker() {
    closeLink();
}

QString LinkWorker::openLink(const StartupConfig& config) {
    if (config.TcpLink != 0) {
        auto socket = std::make_unique<SocketLink>(config.host, static_cast<quint16>(config.port));
        socket->connectToModule();
        link_ = std::move(socket);
        return {};
    }
    auto serial = std::make_unique<SerialLink>(serialPortName(config.commPort), config.baud);
    const QString error = serial->open();
    if (!error.isEmpty()) return error;
    link_ = std::move(serial);
    return {};
}

void LinkWorker::useLink(std::unique_ptr<Link> link) {
    link_ = std::move(link);
}

void LinkWorker::configure(int slaveId, int decimals, const QLocale& locale,
                           const QString& logPath) {
    slaveId_ = slaveId;
    decimals_ = decimals;
    locale_ = locale;
    log_ = std::make_unique<WeightLog>(logPath);
    changes_ = std::make_unique<ChangeLog>(changeLogPath(logPath));
    session_ = thisSession();
    if (link_) {
        instrument_ = std::make_unique<Instrument>(*link_, slaveId, decimals);
        // Operator writes go out between the poll's transactions, its retries included, so
        // a write never waits out a silent module's attempts past its deadline. A write
        // against a silent module costs no more than its deadline and a reply timeout, and
        // its failure shows the red label itself.
        instrument_->setBetweenTransactions([this] { return sendQueuedWrites(); });
    }
}

QList<ChangeLine> LinkWorker::lastChanges(int count) const {
    return changes_ ? changes_->lastLines(count) : QList<ChangeLine>();
}

QByteArrayList LinkWorker::lastDoseLines(int count) const {
    return doses_ ? doses_->newestLines(count) : QByteArrayList();
}

void LinkWorker::recordChange(const WriteOutcome& outcome) {
    if (!changes_) return;
    emit changeRecorded(
        changes_->append(changeOf(outcome, QDateTime::currentDateTime(), session_, locale_)));
    reportChanges();
}

void LinkWorker::finish(const WriteOutcome& outcome) {
    emit writeFinished(outcome);
    recordChange(outcome);
}

void LinkWorker::recordDoses(const QString& dosePath, double tolerancePercent) {
    doses_ = std::make_unique<DoseLog>(dosePath, tolerancePercent, decimals_, locale_);
}

void LinkWorker::poll() {
    // The TCP connection wait runs the event loop, which may deliver this queued call
    // inside a run of writes: the poll then runs once that job is over.
    if (inJob_) {
        pollDeferred_ = true;
        return;
    }
    {
        const QScopedValueRollback busy(inJob_, true);
        if (instrument_ && log_) {
            reportLog();
            SignalSink sink(*this);
            PollContext context{*instrument_, *log_, sink, locale_};
            const PollOutcome outcome = pollCycle(context);
            recordDose(outcome);
            reportLog();
            reportOutcome(outcome, !sink.lost);
        }
        // Changes kept while Cambios.csv could not be written go in with the log's.
        reportChanges();
        // Writes asked for during the poll's last transaction.
        sendQueuedWrites();
    }
    emit pollFinished();
    afterJob();
}

void LinkWorker::afterJob() {
    if (std::exchange(pollDeferred_, false)) poll();
}

void LinkWorker::reportLog() {
    // Lines kept while the log could not be written go in as soon as it can again,
    // also while the module is silent and brings no new line.
    log_->flushPending();
    if (log_->pending() != reportedPending_) {
        reportedPending_ = log_->pending();
        emit logPending(reportedPending_);
    }
    if (!doses_) return;
    doses_->flushPending();
    if (doses_->pending() == reportedDosePending_) return;
    reportedDosePending_ = doses_->pending();
    emit dosePending(reportedDosePending_);
}

void LinkWorker::recordDose(const PollOutcome& outcome) {
    if (!doses_) return;
    const DoseLog::Events events = doses_->poll(outcome.when, outcome.weights, outcome.setpoints);
    if (events.finalTaken) emit doseFinalTaken(*events.finalTaken);
    if (events.ended) emit doseEnded(*events.ended);
}

void LinkWorker::reportChanges() {
    if (!changes_) return;
    changes_->flushPending();
    if (changes_->pending() == reportedChanges_) return;
    reportedChanges_ = changes_->pending();
    emit changesPending(reportedChanges_);
}

void LinkWorker::reportOutcome(const PollOutcome& outcome, bool answering) {
    if (outcome.weights) emit weightsLogged(outcome.when, *outcome.weights);
    if (outcome.setpoints && outcome.setpoints != lastSetpoints_) {
        lastSetpoints_ = outcome.setpoints;
        emit setpointsChanged(outcome.when, *outcome.setpoints);
    }
    noteAnswering(outcome.when, answering);
}

void LinkWorker::noteAnswering(const QDateTime& when, bool answering) {
    if (answering_ == answering) return;
    answering_ = answering;
    emit answeringChanged(when, answering);
}

void LinkWorker::enqueueWrite(const WriteRequest& request) {
    {
        QMutexLocker lock(&queueMutex_);
        writes_.enqueue({request, QDeadlineTimer(kWriteDeadlineMs)});
    }
    QMetaObject::invokeMethod(this, &LinkWorker::runWrites, Qt::QueuedConnection);
}

bool LinkWorker::takeWrite(QueuedWrite* write) {
    QMutexLocker lock(&queueMutex_);
    if (writes_.isEmpty()) return false;
    *write = writes_.dequeue();
    return true;
}

QList<LinkWorker::QueuedWrite> LinkWorker::takeAllWrites() {
    QMutexLocker lock(&queueMutex_);
    return std::exchange(writes_, {});
}

void LinkWorker::runWrites() {
    // The TCP connection wait runs the event loop, which may deliver this queued call
    // inside a poll; the poll sends the write itself between its blocks or at its end.
    if (inJob_) return;
    {
        const QScopedValueRollback busy(inJob_, true);
        sendQueuedWrites();
    }
    afterJob();
}

bool LinkWorker::sendQueuedWrites() {
    QueuedWrite write;
    bool givenUp = false;
    while (!stopRequested() && takeWrite(&write)) {
        const WriteOutcome outcome = send(write);
        // A write cut short by shutdown is no failure to report.
        if (stopRequested()) return false;
        finish(outcome);
        if (outcome.result == WriteResult::Descartado) givenUp = true;
        if (outcome.result != WriteResult::Error) continue;
        // Whatever the operator asked for before this failure would reach the module
        // late, when it may no longer be wanted (a key toggles the dosing cycle): it is
        // given up with this one, and the operator told once. A write the module did not
        // answer also means no communication: the red label shows now, not after a poll's
        // attempts more.
        for (const QueuedWrite& dropped : takeAllWrites())
            finish(WriteOutcome{dropped.request, {}, WriteResult::Descartado, 0});
        emit communicationLost();
        noteAnswering(QDateTime::currentDateTime(), false);
        emit writeFailed();
        return false;
    }
    if (givenUp) emit writeFailed();
    return true;
}

WriteOutcome LinkWorker::send(const QueuedWrite& write) {
    if (!link_ || write.sendBy.hasExpired())
        return WriteOutcome{write.request, {}, WriteResult::Descartado, 0};
    return sendRequest(*link_, slaveId_, write.request, write.sendBy);
}

void LinkWorker::closeLink() {
    instrument_.reset();
    if (link_) link_->close();
    link_.reset();
}
