#include "diagnostics/report_schedule.h"

#include "diagnostics/reports.h"

namespace corvane::diagnostics {

std::atomic<uint64_t> nextWorldReport{kFirstReportSerial};
std::atomic<uint64_t> nextSkeletalReport{kFirstReportSerial};

bool claimReport(std::atomic<uint64_t>& next, const PresentationFrame& frame) {
  if (!frame.timesValid) return false;
  uint64_t due = next.load();
  if (frame.presentationSerial < due) return false;
  return next.compare_exchange_strong(due, frame.presentationSerial + kReportInterval);
}

}  // namespace corvane::diagnostics
