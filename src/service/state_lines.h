#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <optional>
#include <utility>

#include "module_state.h"
#include "state_texts.h"

class Station;
class StationModule;

// What a station without a window tells whoever reads its standard error (under systemd,
// the journal): one line for each change of a module's or the broker's state, in the
// window's words, never one per reading. Draws each module's state as the station keeps
// it, from load to unload, on the thread that made it.
class StateLines : public QObject {
    Q_OBJECT
public:
    // After the station's Form_Load, before its start.
    explicit StateLines(Station& station, QObject* parent = nullptr);

    // The configuration read, one line for the station and one for each module.
    void tellStarted(const QString& dir) const;

private:
    void watch(const StationModule& module);
    // A record's lines waiting, as the worker counts them: said when they begin to wait
    // and when they are written again.
    void notePending(const StationModule& module, Record record, int count);
    void noteBroker(const MqttStatus& status);

    Station& station_;
    struct Waiting {
        int now = 0;
        int most = 0;  // since the record could not be written
    };
    std::map<std::pair<const StationModule*, Record>, Waiting> waiting_;
    std::map<const StationModule*, ModuleState> told_;
    std::optional<std::pair<bool, QString>> broker_;
};

// "<module>: <text>" on stderr, in the program's name.
void tellModule(const StationModule& module, const QString& text);
