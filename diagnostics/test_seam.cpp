#include "diagnostics/test_seam.h"

#include <cstddef>

#include "diagnostics/counters.h"
#include "diagnostics/report_schedule.h"
#include "diagnostics/reports.h"

namespace corvane::diagnostics {

void resetReportSchedulesForTests() {
  nextWorldReport.store(kFirstReportSerial);
  nextSkeletalReport.store(kFirstReportSerial);
}

void resetCountersForTests() {
  constexpr size_t kCount = (offsetof(Counters, skeletal) + sizeof(SkeletalCounters)) / sizeof(Counter);
  for (size_t shard = 0; shard < kCounterShards; ++shard) {
    for (size_t i = 0; i < kCount; ++i) counter_shards::copyIn((&counters.world.candidates)[i], shard)->store(0);
  }
}

}  // namespace corvane::diagnostics
