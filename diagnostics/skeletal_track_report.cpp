// Skeletal and ownerless skeletal track report lines.
#include "bootstrap/log.h"
#include "diagnostics/counters.h"
#include "diagnostics/track_reports.h"
#include "skeletal/skeletal_tracks.h"

using corvane::bootstrap::LogMessage;
using corvane::os::ExclusiveGuard;

namespace {

constexpr uint32_t kSkeletalTrackLines = 16;
constexpr uint32_t kOwnerlessTrackLines = 16;

// What a skeletal track line prints, copied under the table lock.
struct SkeletalTrackLine {
  const char* scope;
  uint64_t id;
  const void* model;
  const void* ownerKey;
  const void* asset;
  const void* palette;
  uint32_t joints, padded;
  uint64_t deltaSamples, deltaChanges, deltaInterpolated;
  uint64_t interpolated, samples, changes, rigidSamples;
  uint64_t firstSerial, firstChangeSerial, lastChangeSerial;
  float root[3];
  bool rigid;
  uint32_t nonRigidJoint;
  double rowLength[3];
  double maxRowDot, det;
};

struct OwnerlessTrackLine {
  uint64_t id;
  const void* model;
  const void* asset;
  const void* palette;
  uint32_t joints, padded;
  int8_t pending;
  uint64_t deltaSamples, deltaChanges;
  uint64_t samples, changes, rigidSamples;
  uint64_t firstSerial, firstChangeSerial, lastChangeSerial;
  float root[3];
  bool rigid;
  uint32_t firstNonRigidJoint;
};

bool changed(const SkeletalTrack& t) {
  return t.model != nullptr && (t.samples != t.reportedSamples || t.changes != t.reportedChanges ||
                                t.interpolated != t.reportedInterpolated);
}

bool changed(const OwnerlessTrack& t) {
  return t.model != nullptr && (t.samples != t.reportedSamples || t.changes != t.reportedChanges);
}

const char* scopeName(const SkeletalTrack& t) {
  if (t.firstPerson) return "firstPerson";
  return t.cinematic ? "cinematic" : "world";
}

// Copies the line of a changed track and moves its baselines up to its counts.
SkeletalTrackLine takeLine(SkeletalTrack& t) {
  SkeletalTrackLine line;
  line.scope = scopeName(t);
  line.id = t.id;
  line.model = t.model;
  line.ownerKey = t.ownerKey;
  line.asset = t.asset;
  line.palette = t.palette;
  line.joints = t.joints;
  line.padded = t.padded;
  line.deltaSamples = t.samples - t.reportedSamples;
  line.deltaChanges = t.changes - t.reportedChanges;
  line.deltaInterpolated = t.interpolated - t.reportedInterpolated;
  line.interpolated = t.interpolated;
  line.samples = t.samples;
  line.changes = t.changes;
  line.rigidSamples = t.rigidSamples;
  line.firstSerial = t.firstSerial;
  line.firstChangeSerial = t.firstChangeSerial;
  line.lastChangeSerial = t.lastChangeSerial;
  for (int i = 0; i < 3; ++i) {
    line.root[i] = t.root[i];
    line.rowLength[i] = t.rowLength[i];
  }
  line.rigid = t.rigid;
  line.nonRigidJoint = t.nonRigidJoint;
  line.maxRowDot = t.maxRowDot;
  line.det = t.det;
  t.reportedSamples = t.samples;
  t.reportedChanges = t.changes;
  t.reportedInterpolated = t.interpolated;
  return line;
}

OwnerlessTrackLine takeLine(OwnerlessTrack& t) {
  OwnerlessTrackLine line;
  line.id = t.id;
  line.model = t.model;
  line.asset = t.asset;
  line.palette = t.palette;
  line.joints = t.joints;
  line.padded = t.padded;
  line.pending = t.pending;
  line.deltaSamples = t.samples - t.reportedSamples;
  line.deltaChanges = t.changes - t.reportedChanges;
  line.samples = t.samples;
  line.changes = t.changes;
  line.rigidSamples = t.rigidSamples;
  line.firstSerial = t.firstSerial;
  line.firstChangeSerial = t.firstChangeSerial;
  line.lastChangeSerial = t.lastChangeSerial;
  for (int i = 0; i < 3; ++i) line.root[i] = t.root[i];
  line.rigid = t.rigid;
  line.firstNonRigidJoint = t.firstNonRigidJoint;
  t.reportedSamples = t.samples;
  t.reportedChanges = t.changes;
  return line;
}

}  // namespace

void reportSkeletalTrackLines(const PresentationFrame& frame) {
  SkeletalTrackLine lines[kSkeletalTrackLines];
  uint64_t listed = 0;
  uint64_t changedTracks = 0;
  {
    ExclusiveGuard guard(skeletalTableLock);
    for (SkeletalTrack& track : skeletalTracks) {
      if (!changed(track)) continue;
      ++changedTracks;
      if (listed < kSkeletalTrackLines) lines[listed++] = takeLine(track);
    }
  }
  const unsigned long long serial = frame.presentationSerial;
  for (uint64_t i = 0; i < listed; ++i) {
    const SkeletalTrackLine& l = lines[i];
    LogMessage(
        "Skeletal track frame=%llu scope=%s id=%llu model=%p ownerKey=%p asset=%p palette=%p joints=%u padded=%u "
        "delta[samples=%llu changes=%llu] interpolated[delta=%llu total=%llu] total[samples=%llu changes=%llu "
        "rigid=%llu] serial[first=%llu firstChange=%llu lastChange=%llu] root=(%.3f,%.3f,%.3f) rigid=%u "
        "nonRigid[joint=%u rowLength=(%.5f,%.5f,%.5f) maxRowDot=%.6f det=%.6f].",
        serial, l.scope, static_cast<unsigned long long>(l.id), l.model, l.ownerKey, l.asset, l.palette, l.joints,
        l.padded, static_cast<unsigned long long>(l.deltaSamples), static_cast<unsigned long long>(l.deltaChanges),
        static_cast<unsigned long long>(l.deltaInterpolated), static_cast<unsigned long long>(l.interpolated),
        static_cast<unsigned long long>(l.samples), static_cast<unsigned long long>(l.changes),
        static_cast<unsigned long long>(l.rigidSamples), static_cast<unsigned long long>(l.firstSerial),
        static_cast<unsigned long long>(l.firstChangeSerial), static_cast<unsigned long long>(l.lastChangeSerial),
        l.root[0], l.root[1], l.root[2], l.rigid ? 1u : 0u, l.nonRigidJoint, l.rowLength[0], l.rowLength[1],
        l.rowLength[2], l.maxRowDot, l.det);
  }
  if (listed < changedTracks)
    LogMessage(
        "Skeletal track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward.", serial,
        static_cast<unsigned long long>(listed), static_cast<unsigned long long>(changedTracks));
}

void reportOwnerlessTrackLines(const PresentationFrame& frame) {
  OwnerlessTrackLine lines[kOwnerlessTrackLines];
  uint64_t listed = 0;
  uint64_t changedTracks = 0;
  {
    ExclusiveGuard guard(skeletalTableLock);
    for (const OwnerlessTrack& track : ownerlessTracks)
      if (changed(track)) ++changedTracks;
    // Records whose content changed come first, then those with new samples only.
    for (int pass = 0; pass < 2 && listed < kOwnerlessTrackLines; ++pass) {
      for (OwnerlessTrack& track : ownerlessTracks) {
        if (listed == kOwnerlessTrackLines) break;
        if (!changed(track)) continue;
        const bool contentChanged = track.changes != track.reportedChanges;
        if (contentChanged == (pass == 0)) lines[listed++] = takeLine(track);
      }
    }
  }
  const unsigned long long serial = frame.presentationSerial;
  for (uint64_t i = 0; i < listed; ++i) {
    const OwnerlessTrackLine& l = lines[i];
    LogMessage(
        "Ownerless skeletal track frame=%llu id=%llu model=%p asset=%p palette=%p joints=%u padded=%u pending=%d "
        "delta[samples=%llu changes=%llu] total[samples=%llu changes=%llu rigid=%llu] serial[first=%llu "
        "firstChange=%llu lastChange=%llu] root=(%.3f,%.3f,%.3f) rigid=%u firstNonRigidJoint=%u.",
        serial, static_cast<unsigned long long>(l.id), l.model, l.asset, l.palette, l.joints, l.padded,
        static_cast<int>(l.pending), static_cast<unsigned long long>(l.deltaSamples),
        static_cast<unsigned long long>(l.deltaChanges), static_cast<unsigned long long>(l.samples),
        static_cast<unsigned long long>(l.changes), static_cast<unsigned long long>(l.rigidSamples),
        static_cast<unsigned long long>(l.firstSerial), static_cast<unsigned long long>(l.firstChangeSerial),
        static_cast<unsigned long long>(l.lastChangeSerial), l.root[0], l.root[1], l.root[2], l.rigid ? 1u : 0u,
        l.firstNonRigidJoint);
  }
  if (listed < changedTracks)
    LogMessage(
        "Ownerless skeletal track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward. "
        "capacityMiss=%llu.",
        serial, static_cast<unsigned long long>(listed), static_cast<unsigned long long>(changedTracks),
        static_cast<unsigned long long>(read(counters.skeletal.ownerlessCapacityMiss)));
}
