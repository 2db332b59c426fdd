#include "link_worker.h"

#include <QDateTime>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

#include "change_log.h"
#include "dose_log.h"
#include "link.h"
#include "module_state.h"
#include "serial_link.h"
#include "socket_link.h"
#include "station_module.h"
#include "weight_log.h"

// Forwards each step of a poll cycle as the module's signal.
class SignalSink : public PollSink {
public:
    explicit SignalSink(StationModule& module) : module_(module) {}
    void displayRead(const DisplayImage& image) override { emit module_.displayRead(image); }
    void weightsRead(const WeightReading& weights) override { emit module_.weightsRead(weights); }
    void weightsLogging() override { emit module_.weightsLogging(); }
    void weightsLogged(const QDateTime& when, const WeightReading& weights) override {
        emit module_.weightsLogged(when, weights);
    }
    void setpointsRead(const Setpoints& setpoints) override {
        emit module_.setpointsRead(setpoints);
    }
    void readbackRead(const CommandReadback& readback) override {
        emit module_.readbackRead(readback);
    }
    // Whether the module answers is decided once the cycle is over (noteAnswering).
    void communicationLost() override { lost = true; }

    bool lost = false;

private:
    StationModule& module_;
};

void registerLinkWorkerTypes() {
    qRegisterMetaType<WeightReading>();
    qRegisterMetaType<Setpoints>();
    qRegisterMetaType<CommandReadback>();
    qRegisterMetaType<WriteRequest>();
    qRegisterMetaType<WriteOutcome>();
    qRegisterMetaType<ChangeLine>();
    qRegisterMetaType<StartupConfig>();
    qRegisterMetaType<DoseRecord>();
    qRegisterMetaType<ModuleState>();
    qRegisterMetaType<OperatorEntry>();
    qRegisterMetaType<Lot>();
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
    if (link_) link_->runHeldWork();
    link_ = std::move(link);
    for (auto& module : modules_) makeInstrument(*module);
}

int LinkWorker::addModule(StationModule* out, int slaveId, int decimals, const QLocale& locale,
                          const ModuleRecords& records) {
    auto module = std::make_unique<Module>();
    module->index = static_cast<int>(modules_.size());
    module->out = out;
    module->sink = std::make_unique<SignalSink>(*out);
    module->slaveId = slaveId;
    module->decimals = decimals;
    module->locale = locale;
    module->log = std::make_unique<WeightLog>(records.weights());
    module->changes = std::make_unique<ChangeLog>(records.changes());
    session_ = thisSession();
    modules_.push_back(std::move(module));
    // The instruments depend on how many modules share the line.
    for (auto& m : modules_) makeInstrument(*m);
    return static_cast<int>(modules_.size()) - 1;
}

void LinkWorker::makeInstrument(Module& module) {
    module.instrument.reset();
    if (!link_) return;
    module.instrument = std::make_unique<Instrument>(*link_, module.slaveId, module.decimals);
    if (sharedLine()) module.instrument->setAttempts(linkexchange::kSharedLine);
    // Operator writes go out between the poll's transactions, its retries included, so
    // a write never waits out a silent module's attempts past its deadline. A write
    // against a silent module costs no more than its deadline and a reply timeout, and
    // its failure shows the red label itself.
    module.instrument->setBetweenTransactions([this] { return sendQueuedWrites(); });
}

QList<ChangeLine> LinkWorker::lastChanges(int module, int count) const {
    return modules_[module]->changes->lastLines(count);
}

QByteArrayList LinkWorker::lastDoseLines(int module, int count) const {
    const Module& m = *modules_[module];
    return m.doses ? m.doses->newestLines(count) : QByteArrayList();
}

void LinkWorker::recordChange(int module, const WriteOutcome& outcome) {
    Module& m = *modules_[module];
    emit m.out->changeRecorded(
        m.changes->append(changeOf(outcome, QDateTime::currentDateTime(), session_, m.locale)));
    reportChanges(m);
}

void LinkWorker::finish(Module& module, const WriteOutcome& outcome) {
    emit module.out->writeFinished(outcome);
    recordChange(module.index, outcome);
}

void LinkWorker::recordDoses(int module, const ModuleRecords& records, double tolerancePercent) {
    Module& m = *modules_[module];
    m.doses = std::make_unique<DoseLog>(records.doses(), tolerancePercent, m.decimals, m.locale);
}

void LinkWorker::poll() {
    // Paced rounds start one period apart.
    const QDeadlineTimer nextRound(periodMs_, Qt::PreciseTimer);
    for (auto& module : modules_) {
        if (stopRequested()) break;
        stepBegins();
        pollModule(*module);
    }
    // Writes asked for during the poll's last transaction.
    sendQueuedWrites();
    stepsEnd();
    const bool paced = periodMs_ > 0 && !stopRequested();
    // A round that outlasts the period: the line holds the poll up, and the link stays
    // awake at the moments its bytes are due.
    if (link_) link_->setKeepAwake(paced && nextRound.hasExpired());
    if (paced && nextRound.hasExpired() && link_) {
        // The next round starts at once: the line does not wait for this one's reports.
        link_->afterNextRequest([this] { emit pollFinished(); });
    } else {
        if (link_) link_->runHeldWork();
        emit pollFinished();
    }
    if (paced) Timer1->start(static_cast<int>(std::max<qint64>(0, nextRound.remainingTime())));
}

void LinkWorker::startRounds(int periodMs) {
    if (!Timer1) {
        Timer1 = new QTimer(this);
        Timer1->setSingleShot(true);
        Timer1->setTimerType(Qt::PreciseTimer);
        connect(Timer1, &QTimer::timeout, this, &LinkWorker::poll);
    }
    periodMs_ = periodMs;
    if (periodMs_ > 0) Timer1->start(0);
}

void LinkWorker::pollModule(Module& module) {
    reportLog(module);
    // A module that stopped answering on a shared line waits its turn to be asked again,
    // so that the others are read meanwhile.
    if (!module.instrument || (sharedLine() && !module.askAgain.hasExpired())) {
        // Changes kept while Cambios.csv could not be written go in with the log's.
        reportChanges(module);
        return;
    }
    module.sink->lost = false;
    // A silent module's next turn counts from this one's start, not from its reply time
    // and grace, so that it is asked every kSilentRetryMs.
    const QDeadlineTimer nextTurn(linkexchange::kSilentRetryMs);
    PollContext context{*module.instrument, *module.log, *module.sink, module.locale};
    const PollOutcome outcome = pollCycle(context);
    const bool answering = !module.sink->lost;
    // Known before the next module's turn, which may come before the reports below go.
    if (!answering) module.askAgain = nextTurn;
    // The records kept over the readings, and what the window and the plant hear of them,
    // go while the next request is on the wire.
    link_->afterNextRequest([this, &module, outcome, answering] {
        recordDose(module, outcome);
        reportLog(module);
        reportOutcome(module, outcome, answering);
        reportChanges(module);
    });
}

void LinkWorker::reportLog(Module& m) {
    // Lines kept while the log could not be written go in as soon as it can again,
    // also while the module is silent and brings no new line.
    m.log->flushPending();
    if (m.log->pending() != m.reportedPending) {
        m.reportedPending = m.log->pending();
        emit m.out->logPending(m.reportedPending);
    }
    if (!m.doses) return;
    m.doses->flushPending();
    if (m.doses->pending() == m.reportedDosePending) return;
    m.reportedDosePending = m.doses->pending();
    emit m.out->dosePending(m.reportedDosePending);
}

void LinkWorker::recordDose(Module& m, const PollOutcome& outcome) {
    if (!m.doses) return;
    const DoseLog::Events events =
        m.doses->poll(outcome.when, outcome.weights, outcome.setpoints, outcome.moving);
    if (events.finalTaken) emit m.out->doseFinalTaken(*events.finalTaken);
    if (events.ended) emit m.out->doseEnded(*events.ended);
    if (!events.lotCounted) return;
    const Lot& lot = m.doses->lot();
    emit m.out->lotChanged(lot);
    if (lot.planned > 0 && lot.done == lot.planned) emit m.out->lotCompleted(lot);
}

void LinkWorker::reportChanges(Module& m) {
    m.changes->flushPending();
    if (m.changes->pending() == m.reportedChanges) return;
    m.reportedChanges = m.changes->pending();
    emit m.out->changesPending(m.reportedChanges);
}

void LinkWorker::reportOutcome(Module& m, const PollOutcome& outcome, bool answering) {
    if (outcome.setpoints) noteProduct(m, *outcome.setpoints);
    if (outcome.setpoints && outcome.setpoints != m.lastSetpoints) {
        m.lastSetpoints = outcome.setpoints;
        emit m.out->setpointsChanged(outcome.when, *outcome.setpoints,
                                     m.products ? m.product : std::nullopt);
    }
    noteAnswering(m, outcome.when, answering);
}

void LinkWorker::noteProduct(Module& m, const Setpoints& setpoints) {
    if (!m.products) return;
    // What the module holds, not what was last asked of it: a change on its own keys
    // shows as no product.
    const Product* held = productInForce(*m.products, setpoints, m.decimals);
    const QString product = held ? held->name : QString();
    if (m.product == product) return;
    m.product = product;
    traceDoses(m);
    emit m.out->productChanged(product);
}

void LinkWorker::traceDoses(Module& m) {
    if (!m.doses) return;
    m.doses->traceProduct(m.products ? std::optional(m.product.value_or(QString())) : std::nullopt);
}

void LinkWorker::useProducts(int module, std::shared_ptr<const ProductTable> table) {
    Module& m = *modules_[module];
    m.products = std::move(table);
    // Worked out again, at once when the setpoints are known: the table may have changed
    // under the same setpoints.
    m.product.reset();
    if (m.lastSetpoints) noteProduct(m, *m.lastSetpoints);
    traceDoses(m);
}

void LinkWorker::setLot(int module, const Lot& lot) {
    Module& m = *modules_[module];
    if (!m.doses) return;
    m.doses->setLot(lot);
    emit m.out->lotChanged(m.doses->lot());
}

Lot LinkWorker::lot(int module) const {
    const Module& m = *modules_[module];
    return m.doses ? m.doses->lot() : Lot{};
}

void LinkWorker::noteAnswering(Module& m, const QDateTime& when, bool answering) {
    if (m.answering == answering) return;
    m.answering = answering;
    emit m.out->answeringChanged(when, answering);
}

namespace {

qint64 monotonicMs() {
    using namespace std::chrono;
    // Never 0, which means no step.
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

}  // namespace

void LinkWorker::stepBegins() {
    stepStart_.store(monotonicMs(), std::memory_order_relaxed);
}

void LinkWorker::stepsEnd() {
    stepStart_.store(0, std::memory_order_relaxed);
}

qint64 LinkWorker::stepAgeMs() const {
    const qint64 start = stepStart_.load(std::memory_order_relaxed);
    return start == 0 ? 0 : monotonicMs() - start;
}

void LinkWorker::enqueueWrite(int module, const WriteRequest& request) {
    {
        QMutexLocker lock(&queueMutex_);
        writes_.enqueue({module, request, QDeadlineTimer(kWriteDeadlineMs)});
    }
    QMetaObject::invokeMethod(this, &LinkWorker::runWrites, Qt::QueuedConnection);
}

bool LinkWorker::takeWrite(QueuedWrite* write) {
    QMutexLocker lock(&queueMutex_);
    if (writes_.isEmpty()) return false;
    *write = writes_.dequeue();
    return true;
}

QList<LinkWorker::QueuedWrite> LinkWorker::takeAllWrites(int module) {
    QMutexLocker lock(&queueMutex_);
    QList<QueuedWrite> taken;
    QQueue<QueuedWrite> kept;
    for (QueuedWrite& write : writes_) (write.module == module ? taken : kept) << write;
    writes_ = kept;
    return taken;
}

void LinkWorker::runWrites() {
    // Calls reach the worker between its jobs only, no wait inside one running the event
    // loop: a write asked for during a poll has mostly gone out between its blocks, and
    // this finds nothing left to send.
    sendQueuedWrites();
    stepsEnd();
}

bool LinkWorker::sendQueuedWrites() {
    QueuedWrite write;
    std::vector<bool> givenUp(modules_.size(), false);
    bool failed = false;
    while (!stopRequested() && takeWrite(&write)) {
        stepBegins();
        Module& module = *modules_[write.module];
        const WriteOutcome outcome = send(write);
        // A write cut short by shutdown is no failure to report.
        if (stopRequested()) return false;
        finish(module, outcome);
        // A product's writes are told as one, for the whole product, by the station.
        const bool own = write.request.group.isEmpty();
        if (outcome.result == WriteResult::Descartado && own) givenUp[write.module] = true;
        if (outcome.result != WriteResult::Error) continue;
        // Whatever the operator asked for before this failure would reach the module
        // late, when it may no longer be wanted (a key toggles the dosing cycle): it is
        // given up with this one, and the operator told once. A write the module did not
        // answer also means no communication: the red label shows now, not after a poll's
        // attempts more. The other modules' writes go on.
        bool tell = own;
        for (const QueuedWrite& dropped : takeAllWrites(write.module)) {
            finish(module, WriteOutcome{dropped.request, {}, WriteResult::Descartado, 0});
            tell = tell || dropped.request.group.isEmpty();
        }
        // A write it did not answer was its turn: the next poll does not ask it at once.
        module.askAgain.setRemainingTime(linkexchange::kSilentRetryMs);
        noteAnswering(module, QDateTime::currentDateTime(), false);
        if (tell) emit module.out->writeFailed();
        givenUp[write.module] = false;
        failed = true;
    }
    for (std::size_t i = 0; i < modules_.size(); ++i)
        if (givenUp[i]) emit modules_[i]->out->writeFailed();
    return !failed;
}

WriteOutcome LinkWorker::send(const QueuedWrite& write) {
    if (!link_ || write.sendBy.hasExpired())
        return WriteOutcome{write.request, {}, WriteResult::Descartado, 0};
    return sendRequest(*link_, modules_[write.module]->slaveId, write.request, write.sendBy);
}

void LinkWorker::closeLink() {
    if (link_) link_->runHeldWork();
    for (auto& module : modules_) module->instrument.reset();
    if (link_) link_->close();
    link_.reset();
}
