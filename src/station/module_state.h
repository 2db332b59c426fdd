#pragma once

#include <QList>
#include <QMetaType>
#include <QStringList>
#include <array>
#include <optional>

#include "dose_log.h"
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
    // The latest dose out of tolerance, or lot completed, in the operator's words, until
    // the operator acknowledges it.
    std::optional<QString> notice;
    // The record's newest lines at start and every dose of this run after them, oldest
    // first; the last `runDoses` are this run's.
    QList<DoseRecord> doses;
    qsizetype runDoses = 0;
    // Over `doses`: their figures, and the fine cut-off they suggest at the setpoints in
    // force.
    DoseStats stats;
    std::optional<qint64> suggestedFine;

    // With a product table (Productos.csv; otherwise all of these stay empty): the
    // products that can be chosen, none while the table cannot be used for the module
    // (`productProblem` saying where), and the product its setpoints hold (empty: none;
    // unknown before the first setpoints are read).
    bool productsKept = false;
    QStringList products;
    QString productProblem;
    std::optional<QString> product;
    // The lot the doses are of, and their count (an empty name: none).
    Lot lot;

    bool silent() const { return answering == false; }
    int pendingOf(Record record) const { return pending[static_cast<size_t>(record)]; }
    // Something the operator should look at: a record waiting or a notice open.
    bool needsAttention() const;
};

Q_DECLARE_METATYPE(ModuleState)
