#include "module_state.h"

#include <algorithm>

#include "weight_format.h"

bool ModuleState::needsAttention() const {
    return notice.has_value() ||
           std::any_of(pending.begin(), pending.end(), [](int n) { return n > 0; });
}

bool passes(const DoseRecord& dose, const DoseFilter& filter) {
    const DoseTrace trace = dose.trace.value_or(DoseTrace{});
    return (!filter.product || *filter.product == trace.product) &&
           (!filter.lot || *filter.lot == trace.lot);
}

QList<DoseRecord> filtered(const QList<DoseRecord>& doses, const DoseFilter& filter) {
    QList<DoseRecord> out;
    for (const DoseRecord& dose : doses)
        if (passes(dose, filter)) out << dose;
    return out;
}

DoseFigures doseFigures(std::span<const DoseRecord> passed, const DoseFilter& filter,
                        const ModuleState& state, int decimals) {
    DoseFigures figures{doseStats(passed, decimals), std::nullopt};
    std::optional<DoseSetpoints> at = state.inForce;
    if (filter.product && !filter.product->isEmpty()) {
        at.reset();
        if (state.table)
            for (const Product& p : state.table->products)
                if (p.name == *filter.product) at = doseSetpoints(productSetpoints(p), decimals);
    }
    if (at) figures.suggestedFine = suggestedFine(passed, *at);
    return figures;
}
