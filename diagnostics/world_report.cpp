// The world, cinematic and shadow summary lines of a due world report.
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

void logWorldSummary(ull frame, const char* observedVtables) {
  const WorldCounters& c = counters.world;
  LogMessage(
      "World diagnostics frame=%llu: candidates=%llu, exactStatic=%llu, exactSkinned=%llu, eligible=%llu, "
      "supported=%llu, uniformScaled=%llu, reflected[supported=%llu moving=%llu adjusted=%llu], moving=%llu, "
      "tracks=%llu, pairs=%llu, adjusted=%llu(skinned=%llu), rejected[vtable=%llu depth=%llu owner=%llu "
      "nonRigid=%llu(current=%llu previous=%llu) discontinuity=%llu sameTime=%llu jump=%llu "
      "reflectionParity=%llu], capacityMiss=%llu nonRigidCapacityMiss=%llu, observedVtables=[%s].",
      frame, value(c.candidates), value(c.exactStatic), value(c.exactSkinned), value(c.eligible), value(c.supported),
      value(c.uniformScaled), value(c.reflectedSupported), value(c.reflectedMoving), value(c.reflectedAdjusted),
      value(c.moving), value(c.tracks), value(c.pairs), value(c.adjusted), value(c.adjustedSkinned),
      value(c.rejectedVtable), value(c.rejectedDepth), value(c.rejectedOwner), value(c.rejectedNonRigid),
      value(c.nonRigidCurrent), value(c.nonRigidPrevious), value(c.rejectedDiscontinuity), value(c.rejectedSameTime),
      value(c.rejectedJump), value(c.rejectedReflectionParity), value(c.capacityMiss), value(c.nonRigidCapacityMiss),
      observedVtables);
  LogMessage("World cinematic frame=%llu: eligible=%llu adjusted=%llu.", frame, value(c.cinematicEligible),
             value(c.cinematicAdjusted));
}

void logShadowSummary(ull frame) {
  const ShadowCounters& c = counters.shadow;
  LogMessage(
      "Shadow transform frame=%llu: calls=%llu published=%llu matches[direct=%llu content=%llu ambiguous=%llu] "
      "adjusted=%llu cacheMiss=%llu unreadable=%llu proxy[calls=%llu lists=%llu capacityMiss=%llu] "
      "capacityMiss[pointer=%llu content=%llu].",
      frame, value(c.calls), value(c.published), value(c.matchesDirect), value(c.matchesContent),
      value(c.matchesAmbiguous), value(c.adjusted), value(c.cacheMiss), value(c.unreadable), value(c.proxyCalls),
      value(c.proxyLists), value(c.proxyCapacityMiss), value(c.capacityMissPointer), value(c.capacityMissContent));
}

}  // namespace

void ReportWorldDiagnostics(const camera::PresentationFrame& frame) {
  if (!settings.worldTransforms && !settings.cinematicTransforms) return;
  if (!claimReport(nextWorldReport, frame)) return;
  char observedVtables[kObservedVtablesTextCapacity + 1];
  buildObservedVtablesText(observedVtables);
  const ull serial = frame.presentationSerial;
  logWorldSummary(serial, observedVtables);
  if (settings.shadowTransforms) logShadowSummary(serial);
  reportWorldTrackLines(frame);
  reportNonRigidTrackLines(frame);
}

}  // namespace corvane::diagnostics
