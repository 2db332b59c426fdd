#include "station_module.h"

#include <QMetaObject>
#include <algorithm>
#include <span>

#include "link_worker.h"
#include "log_reader.h"

StationModule::StationModule(Settings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    keepState();
}

void StationModule::keepState() {
    // The worker emits on its thread; these run queued on this one, in the order sent.
    connect(this, &StationModule::answeringChanged, this, [this](const QDateTime&, bool answering) {
        changeState([answering](ModuleState& s) { s.answering = answering; });
    });
    const auto pending = [this](Record record) {
        return [this, record](int count) {
            changeState([record, count](ModuleState& s) { s.pending[size_t(record)] = count; });
        };
    };
    connect(this, &StationModule::logPending, this, pending(Record::Weights));
    connect(this, &StationModule::dosePending, this, pending(Record::Doses));
    connect(this, &StationModule::changesPending, this, pending(Record::Changes));
    connect(this, &StationModule::doseFinalTaken, this, [this](const DoseRecord& dose) {
        // The latest replaces one not acknowledged yet: every one is in the record.
        if (!outOfTolerance(dose)) return;
        const QString text = doseNoticeText(dose, settings_.decimals, settings_.locale);
        changeState([&text](ModuleState& s) { s.notice = text; });
    });
    connect(this, &StationModule::doseEnded, this, &StationModule::addDose);
    connect(this, &StationModule::setpointsRead, this, &StationModule::takeSetpoints);
    connect(this, &StationModule::writeFinished, this, &StationModule::productWriteEnded);
    connect(this, &StationModule::lotChanged, this,
            [this](const Lot& lot) { changeState([&lot](ModuleState& s) { s.lot = lot; }); });
    connect(this, &StationModule::lotCompleted, this, [this](const Lot& lot) {
        const QString text = lotCompleteText(lot.name, lot.done);
        changeState([&text](ModuleState& s) { s.notice = text; });
    });
    connect(this, &StationModule::productChanged, this, [this](const QString& product) {
        changeState([&product](ModuleState& s) { s.product = product; });
    });
}

void StationModule::useProducts(std::shared_ptr<const ProductTable> table, const QString& problem) {
    products_ = std::move(table);
    state_.productsKept = products_ != nullptr;
    state_.products.clear();
    state_.table = products_;
    if (products_)
        for (const Product& p : products_->products) state_.products << p.name;
    else
        state_.product.reset();
    state_.productProblem = problem;
    refigure();
    emit stateChanged(state_);
}

void StationModule::changeState(const std::function<void(ModuleState&)>& change) {
    ModuleState next = state_;
    change(next);
    if (next.answering == state_.answering && next.pending == state_.pending &&
        next.notice == state_.notice && next.product == state_.product && next.lot == state_.lot)
        return;
    state_ = std::move(next);
    emit stateChanged(state_);
}

void StationModule::setStartDoseLines(const QByteArrayList& lines) {
    state_.doses = doseHistory(lines, systemDateOrder(), settings_.decimals);
    state_.runDoses = 0;
    refigure();
}

void StationModule::addDose(const DoseRecord& dose) {
    state_.doses << dose;
    ++state_.runDoses;
    refigure();
    emit stateChanged(state_);
}

void StationModule::takeSetpoints(const Setpoints& setpoints) {
    const bool changed = !setpoints_ || doseSetpoints(*setpoints_, settings_.decimals) !=
                                            doseSetpoints(setpoints, settings_.decimals);
    setpoints_ = setpoints;
    if (!changed) return;
    state_.inForce = doseSetpoints(setpoints, settings_.decimals);
    refigure();
    emit stateChanged(state_);
}

void StationModule::refigure() {
    const std::span<const DoseRecord> doses(state_.doses.constData(), size_t(state_.doses.size()));
    const DoseFigures all = doseFigures(doses, {}, state_, settings_.decimals);
    state_.stats = all.stats;
    state_.suggestedFine = all.suggestedFine;
}

void StationModule::enter(const OperatorEntry& entry) {
    const EntryRequest request =
        entryRequest(entry, setpoints_, settings_.decimals, settings_.locale);
    if (request.sendable) {
        write(request.labelled);
        return;
    }
    // The module's registers cannot hold a negative or a too large number, and cutting
    // it down would set something the operator never typed.
    recordChange(WriteOutcome{request.labelled, {}, WriteResult::FueraDeRango, 0});
    emit entryOutOfRange();
}

void StationModule::pressKey(int index) {
    if (const auto request = keyPressRequest(index)) write(*request);
}

void StationModule::acknowledgeNotice() {
    changeState([](ModuleState& s) { s.notice.reset(); });
}

namespace {

constexpr int kLongestLot = 40;
constexpr int kMostPlanned = 99999;

// What is wrong with a lot as typed, if anything: it goes into a record of ';'-separated
// fields and onto labels, so it is short, printable and has no separator.
QString lotProblem(const QString& name) {
    if (name.size() > kLongestLot)
        return QStringLiteral("el lote tiene más de %1 caracteres").arg(kLongestLot);
    for (const QChar c : name)
        if (!c.isPrint() || c == u';')
            return QStringLiteral("el lote solo lleva caracteres imprimibles y ningún «;»");
    return {};
}

}  // namespace

void StationModule::setLot(const QString& typedName, const QString& typedPlanned) {
    const QString name = typedName.trimmed();
    if (const QString why = lotProblem(name); !why.isEmpty()) return emit lotRefused(why);
    int planned = 0;
    if (!typedPlanned.trimmed().isEmpty()) {
        bool ok = false;
        planned = typedPlanned.trimmed().toInt(&ok);
        if (!ok || planned < 1 || planned > kMostPlanned)
            return emit lotRefused(
                QStringLiteral("las dosis planificadas van de 1 a %1").arg(kMostPlanned));
    }
    if (name.isEmpty()) planned = 0;
    const Lot before = state_.lot;
    const auto count = [](int n) { return n > 0 ? QString::number(n) : QString(); };
    if (name != before.name) noteChange(QStringLiteral("Lote"), before.name, name);
    if (planned != before.planned)
        noteChange(QStringLiteral("Dosis planificadas"), count(before.planned), count(planned));
    if (worker_ == nullptr) return;
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_, slot = slot_, lot = Lot{name, planned, 0}] {
            worker->setLot(slot, lot);
        },
        Qt::QueuedConnection);
}

void StationModule::noteChange(const QString& campo, const QString& antes, const QString& valor) {
    WriteRequest request;
    request.campo = campo;
    request.antes = antes;
    request.valor = valor;
    recordChange(WriteOutcome{request, {}, WriteResult::Anotado, 0});
}

void StationModule::applyProduct(const QString& name) {
    if (!products_ || applying_.count(name) > 0) return;
    const auto product = std::find_if(products_->products.begin(), products_->products.end(),
                                      [&](const Product& p) { return p.name == name; });
    if (product == products_->products.end()) return;
    const auto steps = [this](double weight) {
        return QString::number(displaySteps(weight, settings_.decimals));
    };
    // In the module's order of the panel; each recorded as the entry of its own box would
    // be, named for the product.
    const std::pair<Control, QString> values[] = {
        {Control::BCero, steps(product->zeroBand)},
        {Control::Grueso, steps(product->coarse)},
        {Control::Fino, steps(product->fine)},
        {Control::Teor, steps(product->target)},
        {Control::Porc, QString::number(product->percentage)}};
    applying_[name].waiting = int(std::size(values));
    for (const auto& [control, text] : values) {
        EntryRequest request =
            entryRequest({control, text}, setpoints_, settings_.decimals, settings_.locale);
        request.labelled.campo += QStringLiteral(" (%1)").arg(name);
        request.labelled.group = name;
        write(request.labelled);
    }
}

void StationModule::productWriteEnded(const WriteOutcome& outcome) {
    const auto it = applying_.find(outcome.request.group);
    if (it == applying_.end()) return;
    Applying& a = it->second;
    if (outcome.result != WriteResult::Enviado)
        a.notSent << outcome.request.campo.section(QStringLiteral(" ("), 0, 0);
    if (outcome.result == WriteResult::Rechazado && !a.refused) a.refused = outcome;
    if (--a.waiting > 0) return;
    const Applying done = std::move(a);
    const QString name = it->first;
    applying_.erase(it);
    if (done.notSent.isEmpty()) return;
    const QString notSent =
        QStringLiteral("No se enviaron: %1.").arg(done.notSent.join(QStringLiteral(", ")));
    if (done.refused)
        emit productNotApplied(
            QStringLiteral("El módulo rechazó el producto %1: %2 (excepción %3, registro %4). %5")
                .arg(name, exceptionMeaning(done.refused->exceptionCode))
                .arg(done.refused->exceptionCode)
                .arg(done.refused->attempted.isEmpty() ? 0 : done.refused->attempted.last().address)
                .arg(notSent));
    else
        emit productNotApplied(
            QStringLiteral("Error: el producto %1 no se aplicó entero. %2").arg(name, notSent));
}

void StationModule::write(const WriteRequest& request) {
    if (worker_ != nullptr) worker_->enqueueWrite(slot_, request);
}

void StationModule::recordChange(const WriteOutcome& outcome) {
    if (worker_ == nullptr) return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, slot = slot_, outcome] { worker->recordChange(slot, outcome); },
        Qt::QueuedConnection);
}
