#pragma once

#include <QList>
#include <QMetaType>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <span>

#include "dose_log.h"
#include "dose_record.h"
#include "product_table.h"
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
    // force (doseFigures with no filter).
    DoseStats stats;
    std::optional<qint64> suggestedFine;
    // The setpoints the module holds, in its display steps; unknown before they are read.
    std::optional<DoseSetpoints> inForce;

    // With a product table (Productos.csv; otherwise all of these stay empty): the
    // products that can be chosen, none while the table cannot be used for the module
    // (`productProblem` saying where), and the product its setpoints hold (empty: none;
    // unknown before the first setpoints are read).
    bool productsKept = false;
    QStringList products;
    std::shared_ptr<const ProductTable> table;  // whose names are `products`
    QString productProblem;
    std::optional<QString> product;
    // The lot the doses are of, and their count (an empty name: none).
    Lot lot;

    bool silent() const { return answering == false; }
    int pendingOf(Record record) const { return pending[static_cast<size_t>(record)]; }
    // Something the operator should look at: a record waiting or a notice open.
    bool needsAttention() const;
};

// Which doses a face shows: those of one product (an empty name: of none) or of every
// one, and likewise of one lot. A line without the two fields was of no product and no lot.
struct DoseFilter {
    std::optional<QString> product;
    std::optional<QString> lot;
    bool operator==(const DoseFilter&) const = default;
};
bool passes(const DoseRecord& dose, const DoseFilter& filter);
QList<DoseRecord> filtered(const QList<DoseRecord>& doses, const DoseFilter& filter);

// The figures of doses a filter let through, and the fine cut-off they suggest: for one
// product of the table, from its own doses at its setpoints; otherwise from those at the
// setpoints in force.
struct DoseFigures {
    DoseStats stats;
    std::optional<qint64> suggestedFine;
};
DoseFigures doseFigures(std::span<const DoseRecord> passed, const DoseFilter& filter,
                        const ModuleState& state, int decimals);

Q_DECLARE_METATYPE(ModuleState)
