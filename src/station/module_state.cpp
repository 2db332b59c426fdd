#include "module_state.h"

#include <algorithm>

bool ModuleState::needsAttention() const {
    return notice.has_value() ||
           std::any_of(pending.begin(), pending.end(), [](int n) { return n > 0; });
}
