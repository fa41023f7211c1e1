#include "diagnostics/test_seam.h"

#include "diagnostics/report_schedule.h"
#include "diagnostics/reports.h"

void resetReportSchedulesForTests() {
  nextWorldReport.store(kFirstReportSerial);
  nextSkeletalReport.store(kFirstReportSerial);
}
