#include "station.h"

#include <QDir>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "cycle_detector.h"
#include "journal.h"
#include "link_worker.h"
#include "payloads.h"
#include "station_module.h"

namespace {

QString otherStationMessage(const DirectoryLock::Holder& other) {
    return QStringLiteral(
               "Ya hay otra estación trabajando en esta carpeta: %1, proceso %2 "
               "en el equipo %3. Ciérrela antes de abrir otra aquí.")
        .arg(other.application, QString::number(other.pid), other.host);
}

}  // namespace

Station::Station(QObject* parent) : QObject(parent) {
    registerLinkWorkerTypes();
    thread_.setObjectName(QStringLiteral("link"));
}

Station::~Station() {
    Form_Unload();
}

void Station::startWorker() {
    worker_ = new LinkWorker;
    worker_->moveToThread(&thread_);
    // The worker, and with it the port or socket, is destroyed on its own thread as
    // the thread ends.
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

QString Station::Form_Load() {
    const QDir here = QDir::current();
    const QString logPath = here.filePath(QStringLiteral("Peso.csv"));
    // Two stations on one log would undo each other's moves. A directory where not
    // even the lock can be written has no log to share: the lines wait in memory.
    lock_ = std::make_unique<DirectoryLock>(logPath);
    if (lock_->take() == DirectoryLock::Result::HeldByAnother) {
        const QString message = otherStationMessage(lock_->holder());
        lock_.reset();
        return message;
    }
    auto link = readLinkConfig(here);
    if (auto* error = std::get_if<ConfigError>(&link)) return error->message;
    config_ = std::get<StartupConfig>(link);

    startWorker();
    QString openError;
    QMetaObject::invokeMethod(
        worker_, [this, &openError] { openError = worker_->openLink(config_); },
        Qt::BlockingQueuedConnection);
    if (!openError.isEmpty()) {
        Form_Unload();
        return openError;
    }

    auto rest = readRemainingConfig(config_, here);
    if (auto* error = std::get_if<ConfigError>(&rest)) {
        Form_Unload();
        return error->message;
    }
    config_ = std::get<StartupConfig>(rest);
    auto mqtt = readMqttConfig(here);
    if (auto* error = std::get_if<ConfigError>(&mqtt)) {
        Form_Unload();
        return error->message;
    }

    const QLocale locale = QLocale::system();
    const QString dosePath = here.filePath(QStringLiteral("Dosificaciones.csv"));
    QList<ChangeLine> changes;
    QByteArrayList doses;
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_, c = config_, locale, logPath, dosePath, &changes, &doses] {
            worker->configure(c.SlaveId, c.Decimals, locale, logPath);
            worker->recordDoses(dosePath, c.tolerancePercent);
            changes = worker->lastChanges(kStartChanges);
            doses = worker->lastDoseLines(kStartDoses);
        },
        Qt::BlockingQueuedConnection);
    auto* module = new StationModule(
        {1, QStringLiteral("Módulo 1"), config_.Decimals, locale, logPath, dosePath}, worker_,
        this);
    module->setStartChanges(changes);
    module->setStartDoseLines(doses);
    modules_ << module;
    connectModule(module);
    connect(worker_, &LinkWorker::pollFinished, this, [this] { pollPending_ = false; });
    connect(&Timer1_, &QTimer::timeout, this, &Station::Timer1_Timer);
    connectPlant(std::get<MqttConfig>(mqtt));
    return {};
}

void Station::start() {
    if (worker_ == nullptr) return;
    if (plant_) {
        // The front end is told; the publisher never calls into it.
        plantStatusTimer_.setInterval(1000);
        connect(&plantStatusTimer_, &QTimer::timeout, this,
                [this] { emit plantStatus(plant_->status()); });
        emit plantStatus(plant_->status());
        plantStatusTimer_.start();
    }
    // The timer comes last: no tick before the link and the front end are ready.
    Timer1_.setInterval(config_.timerInterval);
    if (config_.timerInterval > 0) {
        Timer1_.start();
        // The first cycle runs as soon as the event loop does, with the window up,
        // instead of one interval later.
        QTimer::singleShot(0, this, &Station::Timer1_Timer);
    }
}

void Station::connectModule(StationModule* module) {
    // Direct: the module's signals go out on the worker's thread, as the worker's do, and
    // each receiver decides whether it runs there (the broker) or is queued (a window).
    const auto forward = [this, module](auto signal, auto moduleSignal) {
        connect(worker_, signal, module, moduleSignal, Qt::DirectConnection);
    };
    forward(&LinkWorker::displayRead, &StationModule::displayRead);
    forward(&LinkWorker::weightsRead, &StationModule::weightsRead);
    forward(&LinkWorker::setpointsRead, &StationModule::setpointsRead);
    forward(&LinkWorker::readbackRead, &StationModule::readbackRead);
    forward(&LinkWorker::communicationLost, &StationModule::communicationLost);
    forward(&LinkWorker::writeFailed, &StationModule::writeFailed);
    forward(&LinkWorker::writeFinished, &StationModule::writeFinished);
    forward(&LinkWorker::logPending, &StationModule::logPending);
    forward(&LinkWorker::changeRecorded, &StationModule::changeRecorded);
    forward(&LinkWorker::changesPending, &StationModule::changesPending);
    forward(&LinkWorker::dosePending, &StationModule::dosePending);
    forward(&LinkWorker::doseFinalTaken, &StationModule::doseFinalTaken);
    forward(&LinkWorker::doseEnded, &StationModule::doseEnded);
    forward(&LinkWorker::weightsLogged, &StationModule::weightsLogged);
    forward(&LinkWorker::setpointsChanged, &StationModule::setpointsChanged);
    forward(&LinkWorker::answeringChanged, &StationModule::answeringChanged);
}

namespace {

// A line of Dosificaciones.csv as the broker gets it: its times as the line's, in UTC,
// its weights with the configured decimals, an empty field empty.
DoseValues doseValues(const DoseRecord& dose, int decimals) {
    const auto weight = [decimals](std::optional<qint64> steps) -> std::optional<double> {
        if (!steps) return std::nullopt;
        return stepsWeight(*steps, decimals);
    };
    return {fromLogClock(dose.startMs), fromLogClock(dose.endMs),   weight(dose.target),
            weight(dose.coarse),        weight(dose.fine),          weight(dose.finalNet),
            weight(dose.deviation()),   doseResultText(dose.result)};
}

// A line of Cambios.csv as the broker gets it: its fields as written, by their names.
QList<JsonField> changeFields(const ChangeLine& change) {
    return {
        {QStringLiteral("fecha"), jsonString(change.fecha)},
        {QStringLiteral("hora"), jsonString(change.hora)},
        {QStringLiteral("usuario"), jsonString(change.usuario)},
        {QStringLiteral("equipo"), jsonString(change.equipo)},
        {QStringLiteral("campo"), jsonString(change.campo)},
        {QStringLiteral("antes"), jsonString(change.antes)},
        {QStringLiteral("valor"), jsonString(change.valor)},
        {QStringLiteral("registros"), jsonString(change.registros)},
        {QStringLiteral("resultado"), jsonString(change.resultado)},
        {QStringLiteral("enlace"), jsonString(QString::fromLatin1(change.chain))},
    };
}

}  // namespace

void Station::connectPlant(const MqttConfig& config) {
    if (!config.enabled()) return;
    plant_ = std::make_unique<MqttPublisher>(
        config, QDir::current().filePath(QLatin1String(kMqttOutboxDir)), config_.Decimals);
    MqttPublisher* plant = plant_.get();
    const StationModule* module = modules_.front();
    // Direct, on the worker thread, inside the poll that wrote the line: a reading in
    // Peso.csv is in the outbox before the next poll, whatever the window is doing, and
    // the publisher outlives the worker (Form_Unload).
    connect(
        module, &StationModule::weightsLogged, this,
        [plant](const QDateTime& when, const WeightReading& w) { plant->lectura(when, w); },
        Qt::DirectConnection);
    connect(
        module, &StationModule::setpointsChanged, this,
        [plant](const QDateTime& when, const Setpoints& s) { plant->consignas(when, s); },
        Qt::DirectConnection);
    connect(
        module, &StationModule::answeringChanged, this,
        [plant](const QDateTime& when, bool answering) { plant->comunicacion(when, answering); },
        Qt::DirectConnection);
    const int decimals = config_.Decimals;
    connect(
        module, &StationModule::doseEnded, this,
        [plant, decimals](const DoseRecord& dose) {
            plant->dosificacion(doseValues(dose, decimals));
        },
        Qt::DirectConnection);
    connect(
        module, &StationModule::changeRecorded, this,
        [plant](const ChangeLine& change) { plant->cambio(changeFields(change)); },
        Qt::DirectConnection);
    plant_->start();
}

void Station::Timer1_Timer() {
    // A tick while the previous cycle is still queued or running is dropped: ticks
    // never pile up behind a module that does not answer.
    if (pollPending_ || worker_ == nullptr) return;
    pollPending_ = true;
    QMetaObject::invokeMethod(worker_, &LinkWorker::poll, Qt::QueuedConnection);
}

void Station::Form_Unload() {
    Timer1_.stop();
    if (thread_.isRunning()) {
        thread_.requestInterruption();
        thread_.quit();
        // Every wait of the worker ends within a slice of the stop request. Should one
        // ever hang in the system (a driver that does not return), the operator's close
        // still ends the station; what the worker holds goes with the process.
        if (!thread_.wait(QDeadlineTimer(kWorkerStopMs))) {
            std::fputs("vormelq: el enlace no se detuvo a tiempo; el programa termina sin él\n",
                       stderr);
            std::fflush(stderr);
            std::_Exit(1);
        }
        worker_ = nullptr;
        for (StationModule* module : modules_) module->detach();
    }
    // After the worker: nothing adds to the outbox any more. Whatever the broker has not
    // acknowledged waits on disk for the next start.
    plantStatusTimer_.stop();
    if (plant_) plant_->stop();
    // Only once the worker, and with it the records, is gone may the next station start.
    lock_.reset();
}
