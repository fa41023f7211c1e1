#include "diagnostics/counters.h"

Counters counters{};
Counters counterShards[kCounterShards - 1]{};
