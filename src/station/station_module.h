#pragma once

#include <QByteArrayList>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "change_line.h"
#include "dose_record.h"
#include "module_state.h"
#include "operator_entry.h"
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

public slots:
    // The operator's entry for a setpoint, the command or the data word: queued for the
    // module's link, its deadline running now, or, when it fits no register, recorded
    // as out of range with nothing sent (entryOutOfRange).
    void enter(const OperatorEntry& entry);
    // A front-panel key, 0..4.
    void pressKey(int index);
    // The operator has seen the dose notice.
    void acknowledgeNotice();

signals:
    void stateChanged(const ModuleState& state);
    void entryOutOfRange();

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
    void setpointsChanged(const QDateTime& when, const Setpoints& setpoints);
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

    Settings settings_;
    LinkWorker* worker_ = nullptr;
    int slot_ = 0;
    QList<ChangeLine> startChanges_;
    ModuleState state_;
    std::optional<Setpoints> setpoints_;  // as last read, for the record and the suggestion
};
