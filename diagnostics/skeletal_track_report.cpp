// Skeletal and ownerless skeletal track report lines.
#include "bootstrap/log.h"
#include "diagnostics/counters.h"
#include "diagnostics/track_reports.h"
#include "skeletal/skeletal_tracks.h"

namespace corvane::diagnostics {

using bootstrap::LogMessage;
using os::ExclusiveGuard;
using skeletal::OwnerlessTrack;
using skeletal::SkeletalTrack;
using skeletal::SkinnedHistory;

namespace {

constexpr uint32_t kSkeletalTrackLines = 16;
constexpr uint32_t kOwnerlessTrackLines = 16;

// What both lines print of a track, copied under the table lock.
struct SharedFields {
  SkinnedHistory track;
  uint64_t deltaSamples, deltaChanges;
};

struct SkeletalTrackLine {
  SharedFields shared;
  const char* scope;
  const void* ownerKey;
  uint64_t deltaInterpolated, interpolated;
  uint32_t nonRigidJoint;
  double rowLength[3];
  double maxRowDot, det;
};

struct OwnerlessTrackLine {
  SharedFields shared;
  int8_t pending;
  uint32_t firstNonRigidJoint;
};

bool changed(const SkeletalTrack& t) {
  return t.model != nullptr &&
         (t.samples != t.reportedSamples || t.changes != t.reportedChanges || t.interpolated != t.reportedInterpolated);
}

bool changed(const OwnerlessTrack& t) {
  return t.model != nullptr && (t.samples != t.reportedSamples || t.changes != t.reportedChanges);
}

const char* scopeName(const SkeletalTrack& t) {
  if (t.firstPerson) return "firstPerson";
  return t.cinematic ? "cinematic" : "world";
}

// The fields both lines have, copied from a changed track; moves its sample
// and change baselines up to its counts.
SharedFields takeSharedFields(SkinnedHistory& t) {
  const SharedFields shared = {t, t.samples - t.reportedSamples, t.changes - t.reportedChanges};
  t.reportedSamples = t.samples;
  t.reportedChanges = t.changes;
  return shared;
}

// Copies the line of a changed track and moves its baselines up to its counts.
SkeletalTrackLine takeLine(SkeletalTrack& t) {
  SkeletalTrackLine line;
  line.scope = scopeName(t);
  line.ownerKey = t.ownerKey;
  line.deltaInterpolated = t.interpolated - t.reportedInterpolated;
  line.interpolated = t.interpolated;
  for (int i = 0; i < 3; ++i) line.rowLength[i] = t.rowLength[i];
  line.nonRigidJoint = t.nonRigidJoint;
  line.maxRowDot = t.maxRowDot;
  line.det = t.det;
  t.reportedInterpolated = t.interpolated;
  line.shared = takeSharedFields(t);
  return line;
}

OwnerlessTrackLine takeLine(OwnerlessTrack& t) {
  OwnerlessTrackLine line;
  line.pending = t.pending;
  line.firstNonRigidJoint = t.firstNonRigidJoint;
  line.shared = takeSharedFields(t);
  return line;
}

}  // namespace

void reportSkeletalTrackLines(const PresentationFrame& frame) {
  SkeletalTrackLine lines[kSkeletalTrackLines];
  size_t listed = 0;
  uint64_t changedTracks = 0;
  {
    ExclusiveGuard guard(skeletal::skeletalTableLock);
    listed = takeChangedLines(
        skeletal::skeletalTracks, 1, [](const SkeletalTrack& t) { return changed(t) ? 1 : 0; },
        [](SkeletalTrack& t) { return takeLine(t); }, lines, &changedTracks);
  }
  const unsigned long long serial = frame.presentationSerial;
  for (size_t i = 0; i < listed; ++i) {
    const SkeletalTrackLine& l = lines[i];
    const SkinnedHistory& t = l.shared.track;
    LogMessage(
        "Skeletal track frame=%llu scope=%s id=%llu model=%p ownerKey=%p asset=%p palette=%p joints=%u padded=%u "
        "delta[samples=%llu changes=%llu] interpolated[delta=%llu total=%llu] total[samples=%llu changes=%llu "
        "rigid=%llu] serial[first=%llu firstChange=%llu lastChange=%llu] root=(%.3f,%.3f,%.3f) rigid=%u "
        "nonRigid[joint=%u rowLength=(%.5f,%.5f,%.5f) maxRowDot=%.6f det=%.6f].",
        serial, l.scope, static_cast<unsigned long long>(t.id), t.model, l.ownerKey, t.asset, t.palette, t.joints,
        t.padded, static_cast<unsigned long long>(l.shared.deltaSamples),
        static_cast<unsigned long long>(l.shared.deltaChanges), static_cast<unsigned long long>(l.deltaInterpolated),
        static_cast<unsigned long long>(l.interpolated), static_cast<unsigned long long>(t.samples),
        static_cast<unsigned long long>(t.changes), static_cast<unsigned long long>(t.rigidSamples),
        static_cast<unsigned long long>(t.firstSerial), static_cast<unsigned long long>(t.firstChangeSerial),
        static_cast<unsigned long long>(t.lastChangeSerial), t.root[0], t.root[1], t.root[2], t.rigid ? 1u : 0u,
        l.nonRigidJoint, l.rowLength[0], l.rowLength[1], l.rowLength[2], l.maxRowDot, l.det);
  }
  if (listed < changedTracks)
    LogMessage("Skeletal track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward.",
               serial, static_cast<unsigned long long>(listed), static_cast<unsigned long long>(changedTracks));
}

void reportOwnerlessTrackLines(const PresentationFrame& frame) {
  OwnerlessTrackLine lines[kOwnerlessTrackLines];
  size_t listed = 0;
  uint64_t changedTracks = 0;
  {
    ExclusiveGuard guard(skeletal::skeletalTableLock);
    // Records whose content changed come first, then those with new samples only.
    const auto passOf = [](const OwnerlessTrack& t) {
      return changed(t) ? (t.changes != t.reportedChanges ? 1 : 2) : 0;
    };
    listed = takeChangedLines(
        skeletal::ownerlessTracks, 2, passOf, [](OwnerlessTrack& t) { return takeLine(t); }, lines, &changedTracks);
  }
  const unsigned long long serial = frame.presentationSerial;
  for (size_t i = 0; i < listed; ++i) {
    const OwnerlessTrackLine& l = lines[i];
    const SkinnedHistory& t = l.shared.track;
    LogMessage(
        "Ownerless skeletal track frame=%llu id=%llu model=%p asset=%p palette=%p joints=%u padded=%u pending=%d "
        "delta[samples=%llu changes=%llu] total[samples=%llu changes=%llu rigid=%llu] serial[first=%llu "
        "firstChange=%llu lastChange=%llu] root=(%.3f,%.3f,%.3f) rigid=%u firstNonRigidJoint=%u.",
        serial, static_cast<unsigned long long>(t.id), t.model, t.asset, t.palette, t.joints, t.padded,
        static_cast<int>(l.pending), static_cast<unsigned long long>(l.shared.deltaSamples),
        static_cast<unsigned long long>(l.shared.deltaChanges), static_cast<unsigned long long>(t.samples),
        static_cast<unsigned long long>(t.changes), static_cast<unsigned long long>(t.rigidSamples),
        static_cast<unsigned long long>(t.firstSerial), static_cast<unsigned long long>(t.firstChangeSerial),
        static_cast<unsigned long long>(t.lastChangeSerial), t.root[0], t.root[1], t.root[2], t.rigid ? 1u : 0u,
        l.firstNonRigidJoint);
  }
  if (listed < changedTracks)
    LogMessage(
        "Ownerless skeletal track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward. "
        "capacityMiss=%llu.",
        serial, static_cast<unsigned long long>(listed), static_cast<unsigned long long>(changedTracks),
        static_cast<unsigned long long>(read(counters.skeletal.ownerlessCapacityMiss)));
}

}  // namespace corvane::diagnostics
