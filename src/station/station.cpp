#include "station.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <utility>
#include <variant>

#include "console.h"
#include "journal.h"
#include "link_worker.h"
#include "payloads.h"
#include "station_module.h"
#include "topic_claim.h"

namespace {

QString otherStationMessage(const DirectoryLock::Holder& other) {
    return QStringLiteral(
               "Ya hay otra estación trabajando en esta carpeta: %1, proceso %2 "
               "en el equipo %3. Ciérrela antes de abrir otra aquí.")
        .arg(other.application, QString::number(other.pid), other.host);
}

QString otherRootMessage(qint64 pid, const QString& root, const QString& key) {
    const QString who =
        pid > 0
            ? QStringLiteral("Otra estación de este equipo (proceso %1)").arg(QString::number(pid))
            : QStringLiteral("Otra estación de este equipo");
    return QStringLiteral(
               "%1 ya publica en el servidor MQTT con el tema «%2». Dé a esta estación su "
               "propio tema con la clave %3 de la sección [MQTT] de modbus.ini.")
        .arg(who, root, key);
}

}  // namespace

Station::Station(QObject* parent) : QObject(parent) {
    registerLinkWorkerTypes();
}

Station::~Station() {
    Form_Unload();
}

Station::Line& Station::startWorker(const StartupConfig& config) {
    auto line = std::make_unique<Line>();
    line->config = config;
    line->thread.setObjectName(links_.empty() ? QStringLiteral("link")
                                              : QStringLiteral("link%1").arg(links_.size() + 1));
    line->worker = new LinkWorker;
    line->worker->moveToThread(&line->thread);
    // The worker, and with it the port or socket, is destroyed on its own thread as
    // the thread ends.
    connect(&line->thread, &QThread::finished, line->worker, &QObject::deleteLater);
    line->thread.start();
    links_.push_back(std::move(line));
    return *links_.back();
}

QString Station::openLinks(const QList<StartupConfig>& configs) {
    for (const StartupConfig& config : configs) {
        const bool open = std::any_of(links_.begin(), links_.end(), [&](const auto& line) {
            return sameLink(line->config, config);
        });
        if (open) continue;
        Line& line = startWorker(config);
        QString openError;
        QMetaObject::invokeMethod(
            line.worker, [&line, &openError] { openError = line.worker->openLink(line.config); },
            Qt::BlockingQueuedConnection);
        if (!openError.isEmpty()) return openError;
    }
    return {};
}

QString Station::Form_Load() {
    const QDir here = QDir::current();
    const QString logPath = moduleRecords(here, 1).weights();
    // Two stations on one log would undo each other's moves. A directory where not
    // even the lock can be written has no log to share: the lines wait in memory. The
    // modules' folders below it are the station's too.
    lock_ = std::make_unique<DirectoryLock>(logPath);
    if (lock_->take() == DirectoryLock::Result::HeldByAnother) {
        const QString message = otherStationMessage(lock_->holder());
        lock_.reset();
        return message;
    }
    auto configs = readModuleLinks(here);
    if (auto* error = std::get_if<ConfigError>(&configs)) return error->message;
    QList<StartupConfig> modules = std::get<QList<StartupConfig>>(configs);

    if (const QString openError = openLinks(modules); !openError.isEmpty()) {
        Form_Unload();
        return openError;
    }

    for (StartupConfig& config : modules) {
        auto rest = readRemainingConfig(config, here);
        if (auto* error = std::get_if<ConfigError>(&rest)) {
            Form_Unload();
            return error->message;
        }
        config = std::get<StartupConfig>(rest);
    }
    if (const auto shared = sharedAddress(modules)) {
        Form_Unload();
        return shared->message;
    }
    config_ = modules.front();
    configs_ = modules;
    auto mqtt = readMqttConfig(here);
    if (auto* error = std::get_if<ConfigError>(&mqtt)) {
        Form_Unload();
        return error->message;
    }
    mqtt_ = std::get<MqttConfig>(mqtt);
    warnings_.clear();
    if (const QString exposed = exposedSecretWarning(mqtt_, here); !exposed.isEmpty())
        warnings_ << exposed;

    here_ = here;
    productsStamp_ = productsStamp(here);
    for (const StartupConfig& config : modules) addModule(config, here);
    useProducts(readProducts(here), Qt::BlockingQueuedConnection);
    for (auto& line : links_) {
        Line* l = line.get();
        connect(l->worker, &LinkWorker::pollFinished, &l->receiver,
                [this, l] { pollFinished(*l); });
    }
    if (const QString error = connectPlant(std::get<MqttConfig>(mqtt)); !error.isEmpty()) {
        Form_Unload();
        return error;
    }
    return {};
}

std::variant<QList<StartupConfig>, ConfigError> Station::readModuleLinks(const QDir& here) {
    QList<StartupConfig> modules;
    auto first = readLinkConfig(here);
    if (auto* error = std::get_if<ConfigError>(&first)) return *error;
    modules << std::get<StartupConfig>(first);
    const auto count = readModuleCount(here);
    if (auto* error = std::get_if<ConfigError>(&count)) return *error;
    for (int number = 2; number <= std::get<int>(count); ++number) {
        auto link = readLinkConfig(here, number);
        if (auto* error = std::get_if<ConfigError>(&link)) return *error;
        modules << std::get<StartupConfig>(link);
    }
    return modules;
}

std::optional<ProductTable> Station::readProducts(const QDir& here) {
    QFile file(here.filePath(kProductsFile));
    if (!file.exists()) return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        ProductTable unreadable;
        unreadable.problem =
            TableProblem{0, {}, QStringLiteral("no se puede leer: ") + file.errorString()};
        return unreadable;
    }
    return parseProductTable(file.readAll());
}

QString Station::productsStamp(const QDir& here) {
    const QFileInfo file(here.filePath(kProductsFile));
    if (!file.exists()) return {};
    // A spreadsheet writes beside and renames: the change time moves with either.
    return QStringLiteral("%1 %2 %3")
        .arg(file.size())
        .arg(file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch())
        .arg(file.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch());
}

void Station::useProducts(const std::optional<ProductTable>& table, Qt::ConnectionType how) {
    products_ = table;
    for (StationModule* module : modules_) {
        std::shared_ptr<const ProductTable> usable;
        QString problem;
        if (table) {
            // A table that cannot be used for this module's range offers it no product,
            // and every dose line still says it had none.
            const auto wrong = checkForModule(*table, module->settings().decimals);
            usable = std::make_shared<const ProductTable>(wrong ? ProductTable{} : *table);
            if (wrong) problem = problemText(*wrong);
        }
        module->useProducts(usable, problem);
        LinkWorker* worker = module->worker();
        const int slot = module->slot();
        if (worker != nullptr)
            QMetaObject::invokeMethod(
                worker, [worker, slot, usable] { worker->useProducts(slot, usable); }, how);
    }
}

void Station::checkProducts() {
    const QString stamp = productsStamp(here_);
    if (stamp == productsStamp_) return;
    productsStamp_ = stamp;
    useProducts(readProducts(here_), Qt::QueuedConnection);
}

QString Station::changeProduct(int number, const QString& before, const QStringList& fields) {
    const auto module = std::find_if(modules_.begin(), modules_.end(), [number](StationModule* m) {
        return m->settings().number == number;
    });
    if (module == modules_.end() || !products_) return QStringLiteral("no hay tabla de productos");
    if (products_->problem)
        return QStringLiteral("la tabla no se puede cambiar aquí mientras no se pueda usar: ") +
               problemText(*products_->problem);
    QList<Product> products = products_->products;
    const QLocale locale = QLocale::system();
    const auto named = [&products](const QString& name) {
        return std::find_if(products.begin(), products.end(), [&](const Product& p) {
            return p.name.compare(name, Qt::CaseInsensitive) == 0;
        });
    };
    const auto old = before.isEmpty() ? products.end() : named(before);
    if (!before.isEmpty() && old == products.end())
        return QStringLiteral("%1 ya no está en la tabla").arg(before);
    const QString oldLine =
        old == products.end() ? QString() : productFields(*old, locale).join(u'|');
    QString campo = QStringLiteral("Producto ") + before;
    QString newLine;
    if (!fields.isEmpty()) {
        for (const QString& field : fields)
            if (field.contains(u';') || field.contains(u'\n') || field.contains(u'\r'))
                return QStringLiteral("ningún campo puede llevar «;» ni saltos de línea");
        const auto read = readProduct(fields);
        if (const auto* wrong = std::get_if<TableProblem>(&read))
            return wrong->field + QStringLiteral(": ") + wrong->what;
        const Product next = std::get<Product>(read);
        const auto same = named(next.name);
        if (same != products.end() && same != old)
            return QStringLiteral("ya hay un producto %1").arg(same->name);
        for (StationModule* m : modules_)
            if (const auto wrong = checkForModule(ProductTable{{next}, {}}, m->settings().decimals))
                return QStringLiteral("%1 (módulo %2): %3")
                    .arg(wrong->field)
                    .arg(m->settings().number)
                    .arg(wrong->what);
        if (old == products.end())
            products << next;
        else
            *old = next;
        campo = QStringLiteral("Producto ") + next.name;
        newLine = productFields(next, locale).join(u'|');
    } else {
        products.erase(old);
    }
    if (oldLine == newLine) return {};
    StateFile file(here_.filePath(kProductsFile));
    if (!file.write(productTableText(products, locale)))
        return QStringLiteral("no se pudo escribir %1").arg(kProductsFile);
    productsStamp_ = productsStamp(here_);
    (*module)->noteChange(campo, oldLine, newLine);
    useProducts(ProductTable{products, {}}, Qt::QueuedConnection);
    return {};
}

void Station::addModule(const StartupConfig& config, const QDir& here) {
    const auto line = std::find_if(links_.begin(), links_.end(),
                                   [&](const auto& l) { return sameLink(l->config, config); });
    LinkWorker* worker = (*line)->worker;
    // A folder that cannot be made leaves its records' lines waiting, as any record
    // that cannot be written.
    const ModuleRecords records = moduleRecords(here, config.number);
    here.mkpath(records.folder);
    const QLocale locale = QLocale::system();
    auto* module =
        new StationModule({config.number, config.name, config.Decimals, locale, records}, this);
    QList<ChangeLine> changes;
    QByteArrayList doses;
    int slot = 0;
    Lot lot;
    QMetaObject::invokeMethod(
        worker,
        [worker, module, c = config, locale, records, &changes, &doses, &slot, &lot] {
            slot = worker->addModule(module, c.SlaveId, c.Decimals, locale, records);
            worker->recordDoses(slot, records, c.tolerancePercent);
            changes = worker->lastChanges(slot, kStartChanges);
            doses = worker->lastDoseLines(slot, kStartDoses);
            lot = worker->lot(slot);
        },
        Qt::BlockingQueuedConnection);
    module->attach(worker, slot);
    module->setStartLot(lot);
    module->setStartChanges(changes);
    module->setStartDoseLines(doses);
    modules_ << module;
}

void Station::start() {
    if (links_.empty()) return;
    // A table another program changes is taken as it is saved.
    productsTimer_.setInterval(kProductsCheckMs);
    connect(&productsTimer_, &QTimer::timeout, this, &Station::checkProducts, Qt::UniqueConnection);
    productsTimer_.start();
    if (plant_) {
        // The front end is told; the publisher never calls into it.
        plantStatusTimer_.setInterval(1000);
        connect(&plantStatusTimer_, &QTimer::timeout, this,
                [this] { emit plantStatus(plant_->status()); });
        emit plantStatus(plant_->status());
        plantStatusTimer_.start();
    }
    // Polling comes last: no round before the link and the front end are ready.
    startPolling(config_.timerInterval);
}

void Station::startPolling(int intervalMs) {
    if (intervalMs <= 0) return;
    polling_ = true;
    // Each worker paces its own rounds, the first as soon as its thread gets to it: no
    // tick of this thread's stands between one round and the next.
    for (auto& line : links_)
        QMetaObject::invokeMethod(
            line->worker, [w = line->worker, intervalMs] { w->startRounds(intervalMs); },
            Qt::QueuedConnection);
}

QString Station::claimTopicRoot(const MqttConfig& config, const QString& root, const QString& key) {
    // Two stations of one computer on one root of one broker would mix their streams: the
    // second does not start, whoever runs it and wherever its folder is.
    auto claim = std::make_unique<TopicClaim>(
        QStringLiteral("%1:%2/%3").arg(config.host.toLower()).arg(config.port).arg(root));
    if (!claim->take()) return otherRootMessage(claim->holder(), root, key);
    rootClaims_.push_back(std::move(claim));
    return {};
}

QString Station::connectPlant(const MqttConfig& config) {
    if (!config.enabled()) return {};
    QStringList roots;
    for (const StationModule* module : std::as_const(modules_)) {
        const auto root = readModuleTopicRoot(config, module->number());
        if (auto* error = std::get_if<ConfigError>(&root)) return error->message;
        if (QString error =
                claimTopicRoot(config, std::get<QString>(root), topicRootKey(module->number()));
            !error.isEmpty())
            return error;
        roots << std::get<QString>(root);
    }
    // Module 1 comes first; the publisher takes its root (Tema) and decimals from the start.
    plant_ = std::make_unique<MqttPublisher>(
        config, QDir::current().filePath(QLatin1String(kMqttOutboxDir)), config_.Decimals);
    for (qsizetype i = 1; i < modules_.size(); ++i)
        plant_->addModule(modules_[i]->number(), roots[i], modules_[i]->decimals());
    for (const StationModule* module : std::as_const(modules_)) connectPlant(*module);
    plant_->start();
    return {};
}

void Station::connectPlant(const StationModule& module) {
    MqttPublisher* plant = plant_.get();
    const int n = module.number();
    // Direct, on the worker thread, inside the poll that wrote the line: a reading in
    // Peso.csv is in the outbox before the next poll, whatever the window is doing, and
    // the publisher outlives the worker (Form_Unload).
    connect(
        &module, &StationModule::weightsLogging, this, [plant, n] { plant->expectLectura(n); },
        Qt::DirectConnection);
    connect(
        &module, &StationModule::weightsLogged, this,
        [plant, n](const QDateTime& when, const WeightReading& w) { plant->lectura(when, w, n); },
        Qt::DirectConnection);
    connect(
        &module, &StationModule::setpointsChanged, this,
        [plant, n](const QDateTime& when, const Setpoints& s,
                   const std::optional<QString>& product) {
            plant->consignas(when, s, n, product);
        },
        Qt::DirectConnection);
    connect(
        &module, &StationModule::answeringChanged, this,
        [plant, n](const QDateTime& when, bool answering) {
            plant->comunicacion(when, answering, n);
        },
        Qt::DirectConnection);
    const int decimals = module.decimals();
    connect(
        &module, &StationModule::doseEnded, this,
        [plant, decimals, n](const DoseRecord& dose) {
            plant->dosificacion(doseValues(dose, decimals), n);
        },
        Qt::DirectConnection);
    connect(
        &module, &StationModule::changeRecorded, this,
        [plant, n](const ChangeLine& change) { plant->cambio(cambioFields(change), n); },
        Qt::DirectConnection);
}

bool Station::linksMoving(qint64 ms) const {
    return std::all_of(links_.begin(), links_.end(),
                       [ms](const auto& line) { return line->worker->stepAgeMs() < ms; });
}

void Station::Timer1_Timer() {
    for (auto& line : links_) poll(*line);
}

void Station::poll(Line& line) {
    // A call while the previous round is still queued or running is dropped: calls
    // never pile up behind a module that does not answer.
    if (line.pollPending) return;
    line.pollPending = true;
    QMetaObject::invokeMethod(line.worker, &LinkWorker::poll, Qt::QueuedConnection);
}

void Station::pollFinished(Line& line) {
    line.pollPending = false;
}

void Station::Form_Unload() {
    polling_ = false;
    for (auto& line : links_) line->thread.requestInterruption();
    // Every wait of the worker ends within a slice of the stop request. Should one
    // ever hang in the system (a driver that does not return), the operator's close
    // still ends the station; what the worker holds goes with the process.
    const QDeadlineTimer stopBy(kWorkerStopMs);
    for (auto& line : links_) {
        line->thread.quit();
        if (!line->thread.wait(stopBy)) {
            tellUser(QStringLiteral("el enlace no se detuvo a tiempo; el programa termina sin él"),
                     Priority::Error);
            std::_Exit(1);
        }
    }
    if (!links_.empty()) {
        for (StationModule* module : modules_) module->detach();
        links_.clear();
    }
    // After the worker: nothing adds to the outbox any more. Whatever the broker has not
    // acknowledged waits on disk for the next start.
    plantStatusTimer_.stop();
    productsTimer_.stop();
    if (plant_) plant_->stop();
    // Only once the worker, and with it the records, is gone may the next station start.
    rootClaims_.clear();
    lock_.reset();
}
