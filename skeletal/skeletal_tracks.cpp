#include "skeletal/skeletal_tracks.h"

#include <cmath>
#include <cstring>

#include "diagnostics/counters.h"
#include "math/transform.h"

namespace corvane::skeletal {

using diagnostics::counters;

SkeletalTrack skeletalTracks[kSkeletalTrackSlots];
OwnerlessTrack ownerlessTracks[kOwnerlessTrackSlots];
std::atomic<uint64_t> skeletalTrackIds{1};
SlimLock skeletalTableLock;

namespace {

bool isStale(uint64_t lastSerial, uint64_t serial) { return serial > lastSerial + camera::kTrackStaleSerials; }

uint64_t takeTrackId() { return skeletalTrackIds.fetch_add(1, std::memory_order_relaxed); }

// A slot of either table as a new track: cleared, keyed, a new id, first and
// last seen at `serial`.
template <typename Track, typename Keyed>
void startSlot(Track& track, const void* Keyed::*secondKey, const void* model, const void* second, uint64_t serial) {
  std::memset(static_cast<void*>(&track), 0, sizeof track);
  track.model = model;
  track.*secondKey = second;
  track.id = takeTrackId();
  track.firstSerial = track.lastSerial = serial;
}

void startSkeletalTrack(SkeletalTrack& track, const void* model, const void* ownerKey, uint64_t serial) {
  startSlot(track, &SkeletalTrack::ownerKey, model, ownerKey, serial);
  track.nonRigidJoint = kNoNonRigidJoint;
  diagnostics::bump(counters.skeletal.tracks);
}

void startOwnerlessTrack(OwnerlessTrack& track, const void* model, const void* asset, uint64_t serial) {
  startSlot(track, &OwnerlessTrack::asset, model, asset, serial);
  track.firstNonRigidJoint = kNoNonRigidJoint;
}

// Both tables: a slot keyed by `model` and a second key, probed from the
// pair's hash; the first empty or stale slot on the way is started for a new
// track.
template <typename Track, typename Keyed, size_t kSlots>
Track* findSlot(Track (&table)[kSlots], uint32_t probes, const void* Keyed::*secondKey, const void* model,
                const void* second, uint64_t serial, bool create, diagnostics::Counter& capacityMiss,
                void (*start)(Track&, const void*, const void*, uint64_t)) {
  const uint64_t h = skeletalSlotHash(model, second);
  Track* vacant = nullptr;
  for (uint32_t i = 0; i < probes; ++i) {
    Track& slot = table[(h + i) % kSlots];
    if (slot.model == model && slot.*secondKey == second && model != nullptr) return &slot;
    if (vacant == nullptr && (slot.model == nullptr || isStale(slot.lastSerial, serial))) vacant = &slot;
  }
  if (!create) return nullptr;
  if (vacant == nullptr) {
    diagnostics::bump(capacityMiss);
    return nullptr;
  }
  start(*vacant, model, second, serial);
  return vacant;
}

}  // namespace

uint64_t skeletalSlotHash(const void* model, const void* secondKey) {
  const uint64_t m = reinterpret_cast<uintptr_t>(model);
  const uint64_t k = reinterpret_cast<uintptr_t>(secondKey);
  return (m >> 4) ^ (((m >> 4) << 6) + 21 + (m >> 6) + (k >> 4));
}

SkeletalTrack* findSkeletalTrack(const void* model, const void* ownerKey, uint64_t serial, bool create) {
  return findSlot(skeletalTracks, kSkeletalTrackProbes, &SkeletalTrack::ownerKey, model, ownerKey, serial, create,
                  counters.skeletal.capacityMiss, startSkeletalTrack);
}

OwnerlessTrack* findOwnerlessTrack(const void* model, const void* asset, uint64_t serial, bool create) {
  return findSlot(ownerlessTracks, kOwnerlessTrackProbes, &OwnerlessTrack::asset, model, asset, serial, create,
                  counters.skeletal.ownerlessCapacityMiss, startOwnerlessTrack);
}

bool skeletalTrackOutdated(const SkeletalTrack& track, bool firstPerson, bool cinematic, const void* asset,
                           const void* palette, uint32_t joints, uint32_t padded) {
  if (track.samples > 0 && (track.firstPerson != firstPerson || track.cinematic != cinematic)) return true;
  if (track.asset != nullptr && track.asset != asset) return true;
  if (track.palette != nullptr && track.palette != palette) return true;
  if (track.joints != 0 && track.joints != joints) return true;
  return track.padded != 0 && track.padded != padded;
}

void restartSkeletalTrack(SkeletalTrack& track, uint64_t serial) {
  startSkeletalTrack(track, track.model, track.ownerKey, serial);
}

void recordNonRigidJoint(const Matrix3x4& joint, SkeletalTrack& track, uint32_t index) {
  const float* m = joint.m;
  double row[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) row[r][c] = m[4 * r + c];
  auto dot = [&](int a, int b) { return row[a][0] * row[b][0] + row[a][1] * row[b][1] + row[a][2] * row[b][2]; };
  track.nonRigidJoint = index;
  for (int r = 0; r < 3; ++r) track.rowLength[r] = std::sqrt(std::fmax(dot(r, r), 0.0));
  track.maxRowDot = std::fmax(std::fabs(dot(1, 2)), std::fmax(std::fabs(dot(0, 2)), std::fabs(dot(0, 1))));
  // The 32-bit cofactor expansion along row 0 that the rigidity test uses.
  const float det =
      m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
  track.det = det;
}

void recordOwnerlessSample(const void* model, const void* asset, const Matrix3x4* palette, uint32_t joints,
                           uint32_t padded, int8_t pending, const PresentationFrame& frame) {
  os::ExclusiveGuard guard(skeletalTableLock);
  OwnerlessTrack* track = findOwnerlessTrack(model, asset, frame.presentationSerial, true);
  if (track == nullptr) return;
  track->lastSerial = frame.presentationSerial;
  track->padded = padded;
  track->pending = pending;
  track->palette = palette;
  track->joints = joints;
  if (track->samples > 0 && track->sampleTime + camera::kSampleTimeTolerance >= frame.sampleTime) return;

  const uint64_t hash = math::digestMatrix3x4Array(palette, joints);
  uint32_t firstNonRigid = kNoNonRigidJoint;
  for (uint32_t j = 0; j < joints; ++j) {
    if (!math::isRigidMatrix3x4(palette[j])) {
      firstNonRigid = j;
      break;
    }
  }
  const bool changed = track->samples > 0 && hash != track->hash;
  track->sampleTime = frame.sampleTime;
  track->rigid = firstNonRigid == kNoNonRigidJoint;
  track->firstNonRigidJoint = firstNonRigid;
  track->hash = hash;
  track->root[0] = palette[0].m[3];
  track->root[1] = palette[0].m[7];
  track->root[2] = palette[0].m[11];
  track->samples += 1;
  if (track->rigid) track->rigidSamples += 1;
  if (changed) {
    if (track->changes == 0) track->firstChangeSerial = frame.presentationSerial;
    track->lastChangeSerial = frame.presentationSerial;
    track->changes += 1;
  }
}

}  // namespace corvane::skeletal
