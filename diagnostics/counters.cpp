#include "diagnostics/counters.h"

namespace corvane::diagnostics {

Counters counters{};
Counters counterShards[kCounterShards - 1]{};

}  // namespace corvane::diagnostics
