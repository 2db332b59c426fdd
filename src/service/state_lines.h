#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <optional>
#include <utility>

#include "console.h"
#include "module_state.h"
#include "state_texts.h"

class Station;
class StationModule;

// What a station without a window tells whoever reads its standard error (under systemd,
// the journal): one line for each change of a module's or the broker's state, in the
// window's words, never one per reading, at the priority of what it says (a module that
// does not answer and the broker lost: warning; a record that cannot be written: error;
// the rest: info); and the whole as one short status (statusChanged). Draws each module's
// state as the station keeps it, from load to unload, on the thread that made it.
class StateLines : public QObject {
    Q_OBJECT
public:
    // After the station's Form_Load, before its start.
    explicit StateLines(Station& station, QObject* parent = nullptr);

    // The configuration read, one line for the station and one for each module, what the
    // station warns of; the first status.
    void tellStarted(const QString& dir);

signals:
    // The status changed: "2 módulos, 1 sin comunicación; MQTT conectado, 0 pendientes".
    void statusChanged(const QString& status);

private:
    void watch(const StationModule& module);
    // A record's lines waiting, as the worker counts them: said when they begin to wait
    // and when they are written again.
    void notePending(const StationModule& module, Record record, int count);
    void noteBroker(const MqttStatus& status);
    void noteStatus();

    Station& station_;
    struct Waiting {
        int now = 0;
        int most = 0;  // since the record could not be written
    };
    std::map<std::pair<const StationModule*, Record>, Waiting> waiting_;
    std::map<const StationModule*, ModuleState> told_;
    std::optional<std::pair<bool, QString>> broker_;
    std::optional<MqttStatus> brokerStatus_;
    QString status_;
};

// "<module>: <text>" on stderr, in the program's name, at `priority`.
void tellModule(const StationModule& module, const QString& text,
                Priority priority = Priority::Info);

