#include "link_worker.h"

#include <QMetaObject>
#include <QScopedValueRollback>
#include <utility>

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
    void communicationLost() override { emit worker_.communicationLost(); }

private:
    LinkWorker& worker_;
};

}  // namespace

void registerLinkWorkerTypes() {
    qRegisterMetaType<WeightReading>();
    qRegisterMetaType<Setpoints>();
    qRegisterMetaType<CommandReadback>();
    qRegisterMetaType<WriteRequest>();
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
    if (link_) {
        instrument_ = std::make_unique<Instrument>(*link_, slaveId, decimals);
        // Operator writes go out between the poll's blocks, so a write does not wait
        // behind a whole cycle; but only while the module answers: against a silent one
        // they wait for the end of the poll, and never put off the red label.
        instrument_->setBetweenTransactions(
            [this] { return !instrument_->lastBlockAnswered() || sendQueuedWrites(); });
    }
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
            recordDose(pollCycle(context));
            reportLog();
        }
        // Writes held back while the module did not answer get their one chance now,
        // instead of waiting for a module that answers again.
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

void LinkWorker::enqueueWrite(const WriteRequest& request) {
    {
        QMutexLocker lock(&queueMutex_);
        writes_.enqueue(request);
    }
    QMetaObject::invokeMethod(this, &LinkWorker::runWrites, Qt::QueuedConnection);
}

bool LinkWorker::takeWrite(WriteRequest* request) {
    QMutexLocker lock(&queueMutex_);
    if (writes_.isEmpty()) return false;
    *request = writes_.dequeue();
    return true;
}

void LinkWorker::dropQueuedWrites() {
    QMutexLocker lock(&queueMutex_);
    writes_.clear();
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
    WriteRequest request;
    while (!stopRequested() && takeWrite(&request)) {
        if (send(request)) continue;
        // A write cut short by shutdown is no failure to report.
        if (stopRequested()) return false;
        // Whatever the operator asked for before this failure would reach the module
        // seconds late, when it may no longer be wanted (a key toggles the dosing
        // cycle): it is given up with this one, and the operator told once. Three
        // unanswered attempts also mean no communication: the red label shows now,
        // not after a poll's three attempts more.
        dropQueuedWrites();
        emit communicationLost();
        emit writeFailed();
        return false;
    }
    return true;
}

bool LinkWorker::send(const WriteRequest& request) {
    // The second register of a value is not sent once the first failed: half a value
    // is worse than none.
    for (const RegisterWrite& write : request.writes)
        if (stopRequested() || !link_ || !retriedWrite(*link_, slaveId_, write)) return false;
    return true;
}

void LinkWorker::closeLink() {
    instrument_.reset();
    if (link_) link_->close();
    link_.reset();
}
