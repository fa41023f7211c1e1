// The periodic summary reports, called by the view-copy hook on every frame;
// each decides whether this frame is due.
#pragma once
#include <cstdint>

#include "camera/frame_state.h"
#include "diagnostics/counters.h"

namespace corvane::diagnostics {

using camera::PresentationFrame;

constexpr uint64_t kFirstReportSerial = 600;
constexpr uint64_t kReportInterval = 1200;

void ReportWorldDiagnostics(const PresentationFrame& frame);
void ReportSkeletalDiagnostics(const PresentationFrame& frame);

// A counter's total as the summary lines print it.
using ull = unsigned long long;
inline ull value(const Counter& counter) { return static_cast<ull>(read(counter)); }

}  // namespace corvane::diagnostics
