#include "station_module.h"

#include <QMetaObject>
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
        if (outOfTolerance(dose)) changeState([&dose](ModuleState& s) { s.notice = dose; });
    });
    connect(this, &StationModule::doseEnded, this, &StationModule::addDose);
    connect(this, &StationModule::setpointsRead, this, &StationModule::takeSetpoints);
}

void StationModule::changeState(const std::function<void(ModuleState&)>& change) {
    ModuleState next = state_;
    change(next);
    if (next.answering == state_.answering && next.pending == state_.pending &&
        next.notice == state_.notice)
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
    const auto before = state_.suggestedFine;
    refigure();
    if (state_.suggestedFine != before) emit stateChanged(state_);
}

void StationModule::refigure() {
    const std::span<const DoseRecord> doses(state_.doses.constData(), size_t(state_.doses.size()));
    state_.stats = doseStats(doses, settings_.decimals);
    state_.suggestedFine =
        setpoints_ ? suggestedFine(doses, doseSetpoints(*setpoints_, settings_.decimals))
                   : std::nullopt;
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

void StationModule::write(const WriteRequest& request) {
    if (worker_ != nullptr) worker_->enqueueWrite(slot_, request);
}

void StationModule::recordChange(const WriteOutcome& outcome) {
    if (worker_ == nullptr) return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, slot = slot_, outcome] { worker->recordChange(slot, outcome); },
        Qt::QueuedConnection);
}
