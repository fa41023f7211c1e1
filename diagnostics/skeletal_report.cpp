// The skeletal, skeletal-scope and skeletal-cinematic summary lines of a due
// skeletal report.
#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "diagnostics/report_schedule.h"
#include "diagnostics/reports.h"
#include "diagnostics/track_reports.h"

namespace corvane::diagnostics {

using bootstrap::LogMessage;
using bootstrap::settings;

namespace {

void logSkeletalSummary(ull frame) {
  const SkeletalCounters& c = counters.skeletal;
  LogMessage(
      "Skeletal diagnostics frame=%llu: calls=%llu exactSkinned=%llu eligible[world=%llu firstPerson=%llu] "
      "pending=%llu timeSamples=%llu changed=%llu palettes[rigid=%llu nonRigid=%llu] tracks=%llu pairs=%llu "
      "upload[prepared=%llu adjusted=%llu forced=%llu skipped=%llu forceFailed=%llu frames=%llu sameFrame=%llu "
      "changed=%llu repeated=%llu gap1=%llu gap2=%llu gapMore=%llu alpha=%llu/%llu/%llu/%llu/%llu] "
      "discontinuity=%llu interpolationRejected=%llu rejected[firstPersonDisabled=%llu depthHack=%llu owner=%llu "
      "layout=%llu sameTime=%llu] ownerFallback[firstPerson=%llu] capacityMiss=%llu.",
      frame, value(c.calls), value(c.exactSkinned), value(c.eligibleWorld), value(c.eligibleFirstPerson),
      value(c.pending), value(c.timeSamples), value(c.changed), value(c.palettesRigid), value(c.palettesNonRigid),
      value(c.tracks), value(c.pairs), value(c.uploadPrepared), value(c.uploadAdjusted), value(c.uploadForced),
      value(c.uploadSkipped), value(c.uploadForceFailed), value(c.uploadFrames), value(c.uploadSameFrame),
      value(c.uploadChanged), value(c.uploadRepeated), value(c.uploadGap1), value(c.uploadGap2), value(c.uploadGapMore),
      value(c.uploadAlpha[0]), value(c.uploadAlpha[1]), value(c.uploadAlpha[2]), value(c.uploadAlpha[3]),
      value(c.uploadAlpha[4]), value(c.discontinuity), value(c.interpolationRejected),
      value(c.rejectedFirstPersonDisabled), value(c.rejectedDepthHack), value(c.rejectedOwner), value(c.rejectedLayout),
      value(c.rejectedSameTime), value(c.ownerFallbackFirstPerson), value(c.capacityMiss));
  LogMessage(
      "Skeletal scope frame=%llu: pairs[world=%llu firstPerson=%llu] prepared[world=%llu firstPerson=%llu] "
      "adjusted[world=%llu firstPerson=%llu] forced[world=%llu firstPerson=%llu] firstPersonOutput[frames=%llu "
      "changed=%llu repeated=%llu gap1=%llu gap2=%llu gapMore=%llu].",
      frame, value(c.scopePairsWorld), value(c.scopePairsFirstPerson), value(c.scopePreparedWorld),
      value(c.scopePreparedFirstPerson), value(c.scopeAdjustedWorld), value(c.scopeAdjustedFirstPerson),
      value(c.scopeForcedWorld), value(c.scopeForcedFirstPerson), value(c.firstPersonFrames),
      value(c.firstPersonChanged), value(c.firstPersonRepeated), value(c.firstPersonGap1), value(c.firstPersonGap2),
      value(c.firstPersonGapMore));
  LogMessage(
      "Skeletal cinematic frame=%llu: eligible=%llu pairs=%llu prepared=%llu adjusted=%llu forced=%llu "
      "frames=%llu.",
      frame, value(c.cinematicEligible), value(c.cinematicPairs), value(c.cinematicPrepared),
      value(c.cinematicAdjusted), value(c.cinematicForced), value(c.cinematicFrames));
}

}  // namespace

void ReportSkeletalDiagnostics(const PresentationFrame& frame) {
  if (!settings.firstPersonSkeletons && !settings.worldSkeletons && !settings.cinematicSkeletons) return;
  if (!claimReport(nextSkeletalReport, frame)) return;
  logSkeletalSummary(frame.presentationSerial);
  reportSkeletalTrackLines(frame);
  reportOwnerlessTrackLines(frame);
}

}  // namespace corvane::diagnostics
