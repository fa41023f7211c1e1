#include "diagnostics/counters.h"

Counters counters{};
