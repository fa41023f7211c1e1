// For the tests only: not part of corvane.dll (diagnostics/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::diagnostics {

// Both report schedules as after load.
void resetReportSchedulesForTests();

// Every counter, in every shard, back to zero.
void resetCountersForTests();

}  // namespace corvane::diagnostics
