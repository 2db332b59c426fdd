#pragma once

#include <QByteArrayList>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "change_line.h"
#include "dose_record.h"
#include "module_state.h"
#include "operator_entry.h"
#include "product_table.h"
#include "readers.h"
#include "record_paths.h"
#include "requests.h"

class LinkWorker;

// One module of the line as a front end sees it: what its link's worker read and
// recorded, as plain values on the signals below, and the operator's requests for it.
// Lives on the thread that made the station; the worker's signals are emitted on the
// worker's thread, so a receiver there (the broker) is called inside the poll and one on
// the front end's thread gets them queued, in the order they were sent. It owns the
// module's state (ModuleState), kept on its own thread from those signals and emitted
// whole, on that thread, whenever it changes.
class StationModule : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int number = 1;  // as in the keys: ID_1, ID_2, ...
        QString name;
        int decimals = 0;
        QLocale locale;
        ModuleRecords records;
    };
    explicit StationModule(Settings settings, QObject* parent = nullptr);
    // Its link's worker and its place there; until then, and once the worker is gone
    // (detach), requests go nowhere.
    void attach(LinkWorker* worker, int slot) {
        worker_ = worker;
        slot_ = slot;
    }

    const Settings& settings() const { return settings_; }
    LinkWorker* worker() const { return worker_; }
    int slot() const { return slot_; }
    int number() const { return settings_.number; }
    const QString& name() const { return settings_.name; }
    int decimals() const { return settings_.decimals; }
    const QLocale& locale() const { return settings_.locale; }
    const ModuleRecords& records() const { return settings_.records; }
    const ModuleState& state() const { return state_; }
    // The newest lines of Cambios.csv as the station started, oldest first.
    const QList<ChangeLine>& startChanges() const { return startChanges_; }
    void setStartChanges(QList<ChangeLine> lines) { startChanges_ = std::move(lines); }
    // Before the first poll: the newest lines of Dosificaciones.csv as the station
    // started, oldest first, as its journal holds them (a pending file's lines once).
    void setStartDoseLines(const QByteArrayList& lines);
    void detach() { worker_ = nullptr; }
    // The product table as it can be used for this module (without products when it
    // cannot, saying why; nullptr: there is none).
    void useProducts(std::shared_ptr<const ProductTable> table, const QString& problem);
    // Before the first poll: the lot kept from the last run.
    void setStartLot(const Lot& lot) { state_.lot = lot; }

public slots:
    // The operator's entry for a setpoint, the command or the data word: queued for the
    // module's link, its deadline running now, or, when it fits no register, recorded
    // as out of range with nothing sent (entryOutOfRange).
    void enter(const OperatorEntry& entry);
    // A front-panel key, 0..4.
    void pressKey(int index);
    // The operator has seen the dose notice.
    void acknowledgeNotice();
    // The lot the next doses are of, as typed, with the planned count (empty for none);
    // recorded in Cambios.csv. One that cannot be used is refused (lotRefused), nothing
    // changed.
    void setLot(const QString& name, const QString& planned);
    // The product's five setpoints for the module, in order, as entries of the operator's
    // would send them; when any does not go, one productNotApplied says which.
    void applyProduct(const QString& name);
    // Something the operator did that reaches no register: one line of Cambios.csv.
    void noteChange(const QString& campo, const QString& antes, const QString& valor);

signals:
    void stateChanged(const ModuleState& state);
    void entryOutOfRange();
    // A product that did not go whole: why, and the setpoints that were not sent.
    void productNotApplied(const QString& text);
    void lotRefused(const QString& why);
    // From the worker: the lot as it is now, and its planned count reached.
    void lotChanged(const Lot& lot);
    void lotCompleted(const Lot& lot);

    void displayRead(const QByteArray& image);
    void weightsRead(const WeightReading& weights);
    void setpointsRead(const Setpoints& setpoints);
    void readbackRead(const CommandReadback& readback);
    void writeFailed();
    void writeFinished(const WriteOutcome& outcome);
    void logPending(int count);
    void changeRecorded(const ChangeLine& line);
    void changesPending(int count);
    void dosePending(int count);
    void doseFinalTaken(const DoseRecord& record);
    void doseEnded(const DoseRecord& record);
    // Around each Peso.csv line, on the worker's thread: about to write it, written.
    void weightsLogging();
    void weightsLogged(const QDateTime& when, const WeightReading& weights);
    // With a product table, `product` is the one in force then (empty for none).
    void setpointsChanged(const QDateTime& when, const Setpoints& setpoints,
                          const std::optional<QString>& product);
    // With a product table: the product the module's setpoints now hold, empty for none.
    void productChanged(const QString& product);
    void answeringChanged(const QDateTime& when, bool answering);

private:
    // Any thread: queued for the module's link, its deadline running now.
    void write(const WriteRequest& request);
    // An outcome known without the link: one line of Cambios.csv.
    void recordChange(const WriteOutcome& outcome);
    void keepState();
    void addDose(const DoseRecord& dose);
    void takeSetpoints(const Setpoints& setpoints);
    void changeState(const std::function<void(ModuleState&)>& change);
    void refigure();
    void productWriteEnded(const WriteOutcome& outcome);

    Settings settings_;
    LinkWorker* worker_ = nullptr;
    int slot_ = 0;
    QList<ChangeLine> startChanges_;
    ModuleState state_;
    std::optional<Setpoints> setpoints_;  // as last read, for the record and the suggestion
    std::shared_ptr<const ProductTable> products_;
    // The product being applied: its writes not ended yet, and those that did not go.
    struct Applying {
        int waiting = 0;
        QStringList notSent;
        std::optional<WriteOutcome> refused;
    };
    std::map<QString, Applying> applying_;
};
