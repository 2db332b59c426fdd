#pragma once

#include <QList>
#include <QMetaType>
#include <array>
#include <optional>

#include "dose_record.h"
#include "state_texts.h"

// What the station knows of one module beyond its readings, as one plain value: every
// face (the panel, the line's button row, the service's lines) draws this and decides
// nothing of its own.
struct ModuleState {
    // Whether the module answers: unknown until its first poll; false from a poll or a
    // write it did not answer, true again from the first poll it answers whole.
    std::optional<bool> answering;
    // Lines of each record waiting for their file, by Record.
    std::array<int, 3> pending{};
    // The latest dose out of tolerance, until the operator acknowledges it.
    std::optional<DoseRecord> notice;
    // The record's newest lines at start and every dose of this run after them, oldest
    // first; the last `runDoses` are this run's.
    QList<DoseRecord> doses;
    qsizetype runDoses = 0;
    // Over `doses`: their figures, and the fine cut-off they suggest at the setpoints in
    // force.
    DoseStats stats;
    std::optional<qint64> suggestedFine;

    bool silent() const { return answering == false; }
    int pendingOf(Record record) const { return pending[static_cast<size_t>(record)]; }
    // Something the operator should look at: a record waiting or a notice open.
    bool needsAttention() const;
};

Q_DECLARE_METATYPE(ModuleState)
