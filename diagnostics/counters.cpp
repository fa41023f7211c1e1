#include "diagnostics/counters.h"

namespace corvane::diagnostics {

Counters counters{};
Counters counterShards[kCounterShards - 1]{};
std::atomic<uintptr_t> shardOwners[kCounterShards]{};

}  // namespace corvane::diagnostics
