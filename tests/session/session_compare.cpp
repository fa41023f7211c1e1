#include "tests/session/session_compare.h"

#include <cmath>
#include <cstring>

namespace {

struct Bound {
  const char* row;
  enum Kind { kReduction, kResidual, kNever } kind;
  bool required;  // false: bounded only when the session had the row
};

// Rows with a bound; every other row is reported.
const Bound kBounds[] = {
    {"camera-strafe", Bound::kReduction, true},
    {"joint-line", Bound::kReduction, true},
    {"line", Bound::kResidual, true},
    {"shadow-line", Bound::kResidual, true},
    {"teleport", Bound::kNever, true},
    {"mirrored", Bound::kNever, true},
    {"scaled", Bound::kNever, true},
    {"sheared", Bound::kNever, true},
    {"camera-cut", Bound::kNever, false},
};

int checkBound(const Bound& b, const RowFigures* without, const RowFigures* with, FILE* out) {
  if (without == nullptr || with == nullptr || with->frames == 0) {
    if (!b.required) return 0;
    std::fprintf(out, "FAIL %s: the session has no such frames\n", b.row);
    return 1;
  }
  const double e0 = meanPositionError(*without), e1 = meanPositionError(*with);
  bool met = false;
  switch (b.kind) {
    case Bound::kReduction:
      met = reduction(e0, e1) >= kLeastReduction;
      std::fprintf(out, "%s %s: error reduced %.2f%% (at least %.0f%%)\n", met ? "PASS" : "FAIL", b.row,
                   100.0 * reduction(e0, e1), 100.0 * kLeastReduction);
      break;
    case Bound::kResidual: {
      const double residual = meanResidual(*with);
      met = std::fabs(e1 - residual) <= kResidualTolerance * residual;
      std::fprintf(
          out, "%s %s: error %.6g equals the residual the cap leaves %.6g within %.0f%% (off %.3f%%); reduced %.2f%%\n",
          met ? "PASS" : "FAIL", b.row, e1, residual, 100.0 * kResidualTolerance,
          residual > 0 ? 100.0 * std::fabs(e1 - residual) / residual : 0.0, 100.0 * reduction(e0, e1));
      break;
    }
    case Bound::kNever:
      met = with->violations == 0;
      std::fprintf(out, "%s %s: %llu of %llu frames streaked or differed from what the game drew\n",
                   met ? "PASS" : "FAIL", b.row, static_cast<unsigned long long>(with->violations),
                   static_cast<unsigned long long>(with->frames));
      break;
  }
  return met ? 0 : 1;
}

bool bounded(const char* row) {
  for (const Bound& b : kBounds)
    if (std::strcmp(b.row, row) == 0) return true;
  return false;
}

}  // namespace

double reduction(double without, double with) { return without > 0.0 ? 1.0 - with / without : 0.0; }

int compareSessions(const SessionSummary& without, const SessionSummary& with, FILE* out) {
  std::fprintf(out, "%-16s %7s %12s %12s %9s %10s %10s %11s %11s\n", "object/motion", "frames", "err without",
               "err with", "reduction", "rot w/o", "rot with", "judder w/o", "judder with");
  for (size_t i = 0; i < with.rowCount; ++i) {
    const RowFigures& w = with.rows[i];
    const RowFigures* o = findRow(without, with.rowNames[i]);
    const RowFigures none{};
    const RowFigures& b = o != nullptr ? *o : none;
    std::fprintf(out, "%-16s %7llu %12.5g %12.5g %8.2f%% %9.4g° %9.4g° %11.5g %11.5g\n", with.rowNames[i],
                 static_cast<unsigned long long>(w.frames), meanPositionError(b), meanPositionError(w),
                 100.0 * reduction(meanPositionError(b), meanPositionError(w)), meanRotationError(b),
                 meanRotationError(w), judderRms(b), judderRms(w));
  }
  std::fprintf(out,
               "(errors: mean distance from the true pose at the presentation time, world units; "
               "judder: RMS of the frame-to-frame step minus the true step)\n\n");
  std::fprintf(out, "%-22s %12s %12s %12s %12s\n", "hook cost", "median w/o", "median with", "p99 with", "% of 240 Hz");
  for (size_t i = 0; i < with.costCount; ++i) {
    double m0 = 0, p0 = 0;
    findCost(without, with.costNames[i], &m0, &p0);
    std::fprintf(out, "%-22s %10.2fus %10.2fus %10.2fus %11.3f%%\n", with.costNames[i], m0 / 1000.0,
                 with.costMedianNs[i] / 1000.0, with.costP99Ns[i] / 1000.0,
                 100.0 * with.costMedianNs[i] / kFrameBudgetNs);
  }
  std::fprintf(out,
               "(per presented frame: time inside the hook bodies summed over the renderer threads, the stand-in "
               "game's own functions excluded)\n\n");

  int failed = 0;
  for (const Bound& b : kBounds) failed += checkBound(b, findRow(without, b.row), findRow(with, b.row), out);
  for (size_t i = 0; i < with.rowCount; ++i) {
    if (bounded(with.rowNames[i])) continue;
    const RowFigures* o = findRow(without, with.rowNames[i]);
    const RowFigures none{};
    const RowFigures& b = o != nullptr ? *o : none;
    std::fprintf(out, "reported %s: position error reduced %.2f%%, rotation error reduced %.2f%% (no bound)\n",
                 with.rowNames[i], 100.0 * reduction(meanPositionError(b), meanPositionError(with.rows[i])),
                 100.0 * reduction(meanRotationError(b), meanRotationError(with.rows[i])));
  }
  return failed;
}
