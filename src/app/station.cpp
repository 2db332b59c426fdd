#include "station.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "changes_view.h"
#include "dose_table.h"
#include "journal.h"
#include "link_worker.h"
#include "log_reader.h"
#include "payloads.h"
#include "qt_spanish.h"
#include "stop_signals.h"
#include "trend_recorder.h"

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
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_, c = config_, locale, logPath, dosePath, &changes] {
            worker->configure(c.SlaveId, c.Decimals, locale, logPath);
            worker->recordDoses(dosePath, c.tolerancePercent);
            changes = worker->lastChanges(ChangesView::kShown);
        },
        Qt::BlockingQueuedConnection);
    form_.changesView()->setLines(changes);
    form_.setNumberFormat(config_.Decimals, locale);
    // Before the first poll, so that no cycle of this run is in the file yet, and after
    // the record's journal has moved in what it could; only the file's tail is read,
    // however long the record has grown.
    form_.doses()->setHistory(readDoseHistory(dosePath, systemDateOrder(), config_.Decimals));
    connectWindow();
    connectPlant(std::get<MqttConfig>(mqtt));

    // The timer comes last: no tick before the link and the window are ready.
    form_.Timer1->setInterval(config_.timerInterval);
    if (config_.timerInterval > 0) {
        form_.Timer1->start();
        // The first cycle runs as soon as the event loop does, with the window up,
        // instead of one interval later.
        QTimer::singleShot(0, this, &Station::Timer1_Timer);
    }
    return {};
}

void Station::connectWindow() {
    connect(worker_, &LinkWorker::displayRead, &form_, &frmPeso::showDisplay);
    connect(worker_, &LinkWorker::weightsRead, &form_, &frmPeso::showWeights);
    connect(worker_, &LinkWorker::setpointsRead, &form_, &frmPeso::showSetpoints);
    connect(worker_, &LinkWorker::readbackRead, &form_, &frmPeso::showReadback);
    connect(worker_, &LinkWorker::communicationLost, &form_, &frmPeso::showCommunicationLost);
    connect(worker_, &LinkWorker::writeFailed, &form_, &frmPeso::showWriteFailed);
    connect(worker_, &LinkWorker::writeFinished, &form_, &frmPeso::showWriteFinished);
    connect(worker_, &LinkWorker::logPending, &form_, &frmPeso::showLogPending);
    connect(worker_, &LinkWorker::changesPending, &form_, &frmPeso::showChangesPending);
    connect(worker_, &LinkWorker::changeRecorded, form_.changesView(), &ChangesView::addLine);
    connect(&form_, &frmPeso::writeFinished, worker_, &LinkWorker::recordChange);
    connect(worker_, &LinkWorker::dosePending, &form_, &frmPeso::showDosePending);
    connect(worker_, &LinkWorker::doseFinalTaken, &form_, &frmPeso::showDoseFinal);
    connect(worker_, &LinkWorker::doseEnded, &form_, &frmPeso::showDoseEnded);
    connect(worker_, &LinkWorker::pollFinished, this, [this] { pollPending_ = false; });
    connect(worker_, &LinkWorker::weightsRead, form_.trend(), &TrendRecorder::addWeights);
    connect(worker_, &LinkWorker::setpointsRead, form_.trend(), &TrendRecorder::setSetpoints);
    connect(form_.Timer1, &QTimer::timeout, this, &Station::Timer1_Timer);
    connect(&form_, &frmPeso::writeRequested, this, &Station::queueWrite);
    connect(&form_, &frmPeso::unloading, this, &Station::Form_Unload);
}

void Station::connectPlant(const MqttConfig& config) {
    if (!config.enabled()) return;
    plant_ = std::make_unique<MqttPublisher>(
        config, QDir::current().filePath(QLatin1String(kMqttOutboxDir)), config_.Decimals);
    MqttPublisher* plant = plant_.get();
    // Direct, on the worker thread, inside the poll that wrote the line: a reading in
    // Peso.csv is in the outbox before the next poll, whatever the window is doing, and
    // the publisher outlives the worker (Form_Unload).
    connect(
        worker_, &LinkWorker::weightsLogged, this,
        [plant](const QDateTime& when, const WeightReading& w) { plant->lectura(when, w); },
        Qt::DirectConnection);
    connect(
        worker_, &LinkWorker::setpointsChanged, this,
        [plant](const QDateTime& when, const Setpoints& s) { plant->consignas(when, s); },
        Qt::DirectConnection);
    connect(
        worker_, &LinkWorker::answeringChanged, this,
        [plant](const QDateTime& when, bool answering) { plant->comunicacion(when, answering); },
        Qt::DirectConnection);
    const int decimals = config_.Decimals;
    connect(
        worker_, &LinkWorker::doseEnded, this,
        [plant, decimals](const DoseRecord& dose) {
            plant->dosificacion(doseValues(dose, decimals));
        },
        Qt::DirectConnection);
    connect(
        worker_, &LinkWorker::changeRecorded, this,
        [plant](const ChangeLine& change) { plant->cambio(cambioFields(change)); },
        Qt::DirectConnection);

    // The window asks; the publisher never calls into it.
    plantStatusTimer_.setInterval(1000);
    connect(&plantStatusTimer_, &QTimer::timeout, this,
            [this] { form_.showMqttStatus(plant_->status()); });
    form_.showMqttStatus(plant_->status());
    plantStatusTimer_.start();
    plant_->start();
}

void Station::Timer1_Timer() {
    // A tick while the previous cycle is still queued or running is dropped: ticks
    // never pile up behind a module that does not answer.
    if (pollPending_ || worker_ == nullptr) return;
    pollPending_ = true;
    QMetaObject::invokeMethod(worker_, &LinkWorker::poll, Qt::QueuedConnection);
}

void Station::queueWrite(const WriteRequest& request) {
    if (worker_ != nullptr) worker_->enqueueWrite(request);
}

void Station::Form_Unload() {
    form_.Timer1->stop();
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
    }
    // After the worker: nothing adds to the outbox any more. Whatever the broker has not
    // acknowledged waits on disk for the next start.
    plantStatusTimer_.stop();
    if (plant_) plant_->stop();
    // Only once the worker, and with it the records, is gone may the next station start.
    lock_.reset();
}

int runStation(QApplication& app) {
    QApplication::setApplicationName(kStationTitle);
    useLayoutFont();
    loadQtSpanish(app);

    // The system's stop signals close the window like its close box, and end a
    // start-up error's box as well.
    StopSignals stopSignals;
    Station station;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &station.form(), &QWidget::close);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app,
                     [] { QCoreApplication::exit(0); });
    const QString error = station.Form_Load();
    if (!error.isEmpty()) {
        // Also on stderr, for whoever started the station from a script.
        std::fprintf(stderr, "vormelq: %s\n", qUtf8Printable(error));
        std::fflush(stderr);
        QMessageBox box(QMessageBox::Critical, kStationTitle, error, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // Closing the window ends the program at once, whatever dialog is still open.
    QObject::connect(&station.form(), &frmPeso::unloading, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    station.form().show();
    return app.exec();
}
