#include "skeletal/palette_interpolation.h"

#include <cmath>
#include <cstring>

#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "math/blend.h"
#include "math/palette_blend.h"
#include "math/quaternion.h"
#include "math/transform.h"
#include "patch/readable.h"
#include "skeletal/skeletal_tracks.h"
#include "world/identify_model.h"
#include "world/model_record.h"

namespace corvane::skeletal {

using bootstrap::readField;
using bootstrap::settings;
using camera::copyPresentationFrame;
using camera::kMaxSampleGap;
using camera::kSampleTimeTolerance;
using diagnostics::bump;
using math::isFiniteDouble;
using math::kMaxPaletteJoints;
using os::ExclusiveGuard;
using patch::isReadableRange;

namespace {

diagnostics::SkeletalCounters& c = diagnostics::counters.skeletal;

// What one call learned about the record before the table is touched.
struct SkinnedSample {
  const void* asset;
  const void* ownerKey;
  const Matrix3x4* palette;  // the host's palette, for its identity
  Matrix3x4* content;        // this call's copy of its first `padded` entries
  // The rotations of content's first `joints` entries: taken with the hash
  // (when rigid), or copied from the track when the content is, or becomes,
  // its current palette.
  math::PaletteRotations* rotations;
  uint32_t joints;
  uint32_t padded;
  bool firstPerson;
  bool cinematic;
};

// Steps up to the scope decision; false refuses (counted where a counter exists).
bool admitRecord(const uint8_t* record, SkinnedSample* out) {
  patch::ReadableRegionMemo probes;
  bump(c.calls);
  if (!isReadableRange(probes, record, bootstrap::kSkinnedModelRecordLength)) {
    bump(c.rejectedLayout);
    return false;
  }
  if (readField<const void*>(record, 0) != bootstrap::hostAddress(bootstrap::kSkinnedModelClassRva)) return false;
  bump(c.exactSkinned);

  const float depth = readField<float>(record, bootstrap::kModelDepthValueOffset);
  const bool finiteDepth = math::isFiniteFloat(depth);
  const bool firstPerson = finiteDepth && depth > 0.0f && depth < world::kFirstPersonDepthLimit;
  const bool worldDepth = finiteDepth && std::fabs(depth) <= world::kWorldDepthTolerance;
  if (firstPerson && !settings.firstPersonSkeletons) {
    bump(c.rejectedFirstPersonDisabled);
    return false;
  }
  if (!firstPerson && !worldDepth) {
    bump(c.rejectedDepthHack);
    return false;
  }

  const void* asset = readField<const void*>(record, bootstrap::kModelAssetOffset);
  const void* owner = readField<const void*>(record, bootstrap::kModelOwnerOffset);
  const auto* palette = readField<const Matrix3x4*>(record, bootstrap::kModelPaletteOffset);
  const uint32_t joints = readField<uint32_t>(record, bootstrap::kModelJointsOffset);
  const uint32_t padded =
      readField<uint32_t>(record, bootstrap::kModelPaddedJointsOffset) & bootstrap::kPaddedJointsMask;
  const int8_t pending = readField<int8_t>(record, bootstrap::kModelUploadPendingOffset);
  // The palette is read as an array of float matrices, which needs float alignment.
  const bool aligned = reinterpret_cast<uintptr_t>(palette) % alignof(Matrix3x4) == 0;
  const bool layoutOk = isReadableRange(probes, asset, 8) && palette != nullptr && aligned && joints >= 1 &&
                        joints <= kMaxPaletteJoints && padded == ((joints + 7) & ~7u) && padded >= 1 &&
                        padded <= kMaxPaletteJoints &&
                        isReadableRange(probes, palette, uint64_t{padded} * sizeof(Matrix3x4));
  if (!layoutOk) {
    bump(c.rejectedLayout);
    return false;
  }

  out->asset = asset;
  out->palette = palette;
  out->joints = joints;
  out->padded = padded;
  out->firstPerson = firstPerson;
  out->cinematic = false;
  if (isReadableRange(probes, owner, 8)) {
    if (worldDepth && !settings.worldSkeletons) return false;
    out->ownerKey = owner;
  } else if (firstPerson) {
    out->ownerKey = asset;
    bump(c.ownerFallbackFirstPerson);
  } else if (settings.cinematicSkeletons && joints <= world::kMaxCinematicJoints) {
    out->cinematic = true;
    out->ownerKey = asset;
    bump(c.cinematicEligible);
  } else {
    const PresentationFrame frame = copyPresentationFrame();
    if (frame.timesValid && frame.presentationSerial != 0)
      recordOwnerlessSample(record, asset, palette, joints, padded, pending, frame);
    bump(c.rejectedOwner);
    return false;
  }
  if (firstPerson) bump(c.eligibleFirstPerson);
  else if (!out->cinematic) bump(c.eligibleWorld);
  if (pending > 0) bump(c.pending);
  return true;
}

void copyPalette(Matrix3x4* to, const Matrix3x4* from, uint32_t count) {
  std::memcpy(to, from, size_t{count} * sizeof(Matrix3x4));
}

void copyTranslations(math::PaletteTranslations* to, const math::PaletteTranslations& from, uint32_t count) {
  for (int row = 0; row < 3; ++row) std::memcpy(to->axis[row], from.axis[row], size_t{count} * sizeof(float));
}

void copyRotations(math::PaletteRotations* to, const math::PaletteRotations& from, uint32_t count) {
  const size_t bytes = size_t{count} * sizeof(double);
  std::memcpy(to->w, from.w, bytes);
  std::memcpy(to->x, from.x, bytes);
  std::memcpy(to->y, from.y, bytes);
  std::memcpy(to->z, from.z, bytes);
}

// Drops the pair and takes the palette (with its rotations) as the new
// reference (when rigid).
void restartAt(SkeletalTrack& track, double time, uint64_t hash, bool rigid, const Matrix3x4* palette,
               const math::PaletteRotations& rotations) {
  track.previousTime = time;
  track.currentTime = time;
  track.hash = hash;
  track.pairReady = false;
  track.hasReference = rigid;
  if (rigid) {
    copyPalette(track.currentPalette, palette, track.padded);
    math::paletteTranslations(palette, track.joints, &track.previousTranslations);
    copyRotations(&track.currentRotations, rotations, track.joints);
    copyRotations(&track.previousRotations, rotations, track.joints);
  }
}

// A band around the turn limit, in degrees: a joint's turn is worked out from
// its two palette entries, as the limit is defined, only when the cosine of
// its kept rotations lies within it. The kept rotations are the entries'
// quaternions normalised once more, so their cosine is the defined one to a
// few units in the last place (1e-15), and the band's edges (about 6e-7 in
// the cosine) decide every joint outside it the same way the defined turn does.
constexpr double kTurnBandDegrees = 1e-4;
constexpr double kTurnBandCosineSlack = 1e-12;

// Every joint stays within the travel and turn limits of the track's current
// palette and the sample (both rigid, with their kept rotations).
bool continuous(const SkeletalTrack& track, const SkinnedSample& s) {
  const Matrix3x4* from = track.currentPalette;
  const Matrix3x4* to = s.content;
  const math::PaletteRotations& a = track.currentRotations;
  const math::PaletteRotations& b = *s.rotations;
  const double halfTurnRadians = 0.5 * math::kPi / 180.0;
  const double inside = std::cos((kMaxJointTurnDegrees - kTurnBandDegrees) * halfTurnRadians) + kTurnBandCosineSlack;
  const double outside = std::cos((kMaxJointTurnDegrees + kTurnBandDegrees) * halfTurnRadians) - kTurnBandCosineSlack;
  for (uint32_t j = 0; j < s.joints; ++j) {
    const double dx = double{to[j].m[3]} - double{from[j].m[3]};
    const double dy = double{to[j].m[7]} - double{from[j].m[7]};
    const double dz = double{to[j].m[11]} - double{from[j].m[11]};
    const double travel = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!isFiniteDouble(travel) || travel > kMaxJointTravel) return false;
    const double cosine = std::fabs(a.w[j] * b.w[j] + a.x[j] * b.x[j] + a.y[j] * b.y[j] + a.z[j] * b.z[j]);
    if (cosine >= inside) continue;
    if (cosine <= outside) return false;
    const double turn =
        math::rotationAngleDegrees(math::quaternionFromMatrix3x4(from[j]), math::quaternionFromMatrix3x4(to[j]));
    if (!isFiniteDouble(turn) || turn > kMaxJointTurnDegrees) return false;
  }
  return true;
}

void countPair(const SkinnedSample& s) {
  bump(c.pairs);
  bump(s.firstPerson ? c.scopePairsFirstPerson : c.scopePairsWorld);
  if (s.cinematic) bump(c.cinematicPairs);
}

// Takes the sample time `t` of the palette into the track.
void samplePalette(SkeletalTrack& track, const SkinnedSample& s, double t, uint64_t hash, bool rigid, uint64_t serial) {
  const uint64_t n = track.samples;
  if (n > 0 && t <= track.currentTime + kSampleTimeTolerance) {
    if (t < track.currentTime - kSampleTimeTolerance) {
      restartAt(track, t, hash, rigid, s.content, *s.rotations);
      bump(c.discontinuity);
    } else if (hash != track.hash) {
      restartAt(track, t, hash, rigid, s.content, *s.rotations);
      bump(c.rejectedSameTime);
    }
    return;
  }

  const bool changedSample = n > 0 && hash != track.hash;
  const double gap = t - track.currentTime;
  if (rigid && !track.hasReference) {
    copyPalette(track.currentPalette, s.content, s.padded);
    math::paletteTranslations(s.content, s.joints, &track.previousTranslations);
    copyRotations(&track.currentRotations, *s.rotations, s.joints);
    copyRotations(&track.previousRotations, *s.rotations, s.joints);
    track.previousTime = t;
    track.currentTime = t;
    track.hasReference = true;
    track.pairReady = false;
  } else if (rigid && n > 0 && gap > kSampleTimeTolerance && gap <= kMaxSampleGap) {
    if (!changedSample) {
      track.previousTime = track.currentTime;
      track.currentTime = t;
      track.pairReady = false;
    } else if (continuous(track, s)) {
      track.previousTime = track.currentTime;
      track.currentTime = t;
      math::paletteTranslations(track.currentPalette, s.joints, &track.previousTranslations);
      copyPalette(track.currentPalette, s.content, s.padded);
      copyRotations(&track.previousRotations, track.currentRotations, s.joints);
      copyRotations(&track.currentRotations, *s.rotations, s.joints);
      track.pairReady = true;
      countPair(s);
    } else {
      restartAt(track, t, hash, rigid, s.content, *s.rotations);
      bump(c.discontinuity);
    }
  } else {
    restartAt(track, t, hash, rigid, s.content, *s.rotations);
    if (n > 0) bump(c.discontinuity);
  }
  track.samples += 1;
  track.hash = hash;
  if (rigid) track.rigidSamples += 1;

  if (changedSample) {
    if (track.changes == 0) track.firstChangeSerial = serial;
    track.lastChangeSerial = serial;
    track.changes += 1;
    bump(c.changed);
  }
  bump(c.timeSamples);
  bump(rigid ? c.palettesRigid : c.palettesNonRigid);
}

double blendFactor(const SkeletalTrack& track, double span, double presentationTime) {
  double alpha = (presentationTime - track.previousTime) / span;
  alpha = camera::clampAlpha(alpha);
  return alpha;
}

// The factor of a ready pair at `presentationTime`; false when the pair's span
// is unusable (nothing counted) or the factor is not finite (the pair is
// dropped and counted).
bool readyPairFactor(SkeletalTrack& track, double presentationTime, double* alpha) {
  const double span = track.currentTime - track.previousTime;
  if (!(span > kSampleTimeTolerance && span <= kMaxSampleGap)) return false;
  *alpha = blendFactor(track, span, presentationTime);
  if (isFiniteDouble(*alpha)) return true;
  track.pairReady = false;
  bump(c.interpolationRejected);
  return false;
}

// The sample is the track's current one (same time within the tolerance) and
// the pair would be blended again if its content is unchanged. Every decision
// of the full path that does not depend on the content hash is taken here.
bool repeatsReadyPair(const SkeletalTrack& track, double t, bool rigid, uint64_t serial, double presentationTime,
                      double* alphaOut) {
  if (track.samples == 0 || t > track.currentTime + kSampleTimeTolerance) return false;
  if (t < track.currentTime - kSampleTimeTolerance) return false;
  if (!rigid || !track.pairReady || (track.uploaded && track.lastUploadSerial == serial)) return false;
  const double span = track.currentTime - track.previousTime;
  if (!(span > kSampleTimeTolerance && span <= kMaxSampleGap)) return false;
  const double alpha = blendFactor(track, span, presentationTime);
  if (!isFiniteDouble(alpha)) return false;  // the full path counts the refusal
  *alphaOut = alpha;
  return true;
}

void fillUpload(uint64_t trackId, const SkinnedSample& s, const uint8_t* record, uint64_t serial, uint64_t hash,
                double alpha, PaletteUpload* upload) {
  upload->model = record;
  upload->ownerKey = s.ownerKey;
  upload->trackId = trackId;
  upload->presentationSerial = serial;
  upload->hash = hash;
  upload->alpha = alpha;
  upload->firstPerson = s.firstPerson;
  upload->cinematic = s.cinematic;
  bump(c.uploadPrepared);
  bump(s.firstPerson ? c.scopePreparedFirstPerson : c.scopePreparedWorld);
  if (s.cinematic) bump(c.cinematicPrepared);
}

bool sameContent(const Matrix3x4* a, const Matrix3x4* b, uint32_t joints) {
  return std::memcmp(a, b, size_t{joints} * sizeof(Matrix3x4)) == 0;
}

// A ready pair as the track holds it, taken out under the lock and blended
// after it: `fromTranslations` and `fromRotations` are the previous palette's, the call's
// copy of the host palette and its rotations the current one's (they are that
// palette's, or are overwritten with it).
struct PairToBlend {
  uint64_t trackId;
  double alpha;
};

// What one call does under skeletalTableLock. `hash` is the content hash when
// `hashKnown`, and then a rigid content's rotations are known too; without it
// a call that needs the hash returns kNeedsHash, and is made again with it
// (everything before the decision is idempotent).
enum class TableStep { kRefused, kBlend, kNeedsHash };

TableStep sampleIntoTrack(const uint8_t* record, SkinnedSample& s, const PresentationFrame& frame, bool rigid,
                          uint32_t nonRigidIndex, bool hashKnown, uint64_t hash,
                          math::PaletteTranslations* fromTranslations, math::PaletteRotations* fromRotations,
                          PairToBlend* pair) {
  const double sampleTime = frame.sampleTime;
  const uint64_t serial = frame.presentationSerial;
  ExclusiveGuard guard(skeletalTableLock);
  SkeletalTrack* found = findSkeletalTrack(record, s.ownerKey, serial, true);
  if (found == nullptr) return TableStep::kRefused;
  SkeletalTrack& track = *found;
  if (skeletalTrackOutdated(track, s.firstPerson, s.cinematic, s.asset, s.palette, s.joints, s.padded))
    restartSkeletalTrack(track, serial);
  track.firstPerson = s.firstPerson;
  track.cinematic = s.cinematic;
  track.asset = s.asset;
  track.lastSerial = serial;
  track.palette = s.palette;
  track.joints = s.joints;
  track.padded = s.padded;
  track.root[0] = s.content[0].m[3];
  track.root[1] = s.content[0].m[7];
  track.root[2] = s.content[0].m[11];
  track.rigid = rigid;
  if (!rigid) recordNonRigidJoint(s.content[nonRigidIndex], track, nonRigidIndex);

  // Between two simulation steps the pair is blended again when the content is
  // the track's current palette; a ready pair's hash is that palette's, so
  // equal bytes need no hash.
  double alpha = 0.0;
  const bool repeated = repeatsReadyPair(track, sampleTime, rigid, serial, frame.presentationTime, &alpha);
  if (!repeated || !sameContent(s.content, track.currentPalette, s.joints)) {
    if (!hashKnown) return TableStep::kNeedsHash;
    samplePalette(track, s, sampleTime, hash, rigid, serial);
    if (!rigid || !track.pairReady || (track.uploaded && track.lastUploadSerial == serial)) return TableStep::kRefused;
    if (!readyPairFactor(track, frame.presentationTime, &alpha)) return TableStep::kRefused;
  }
  copyTranslations(fromTranslations, track.previousTranslations, s.joints);
  copyRotations(fromRotations, track.previousRotations, s.joints);
  // Equal bytes have equal rotations: known ones of an equal content are the
  // current palette's.
  const bool current = sameContent(s.content, track.currentPalette, s.joints);
  if (!current) copyPalette(s.content, track.currentPalette, s.joints);
  if (!current || !hashKnown) copyRotations(s.rotations, track.currentRotations, s.joints);
  pair->trackId = track.id;
  pair->alpha = alpha;
  return TableStep::kBlend;
}

}  // namespace

bool preparePalette(const uint8_t* record, Matrix3x4* presentationPalette, PaletteUpload* upload) {
  SkinnedSample s;
  if (!admitRecord(record, &s)) return false;

  const PresentationFrame frame = copyPresentationFrame();
  if (!frame.timesValid || frame.presentationSerial == 0) return false;
  const uint64_t serial = frame.presentationSerial;

  // One read of the host's palette: what is validated and hashed is what the
  // track stores and blends, whatever the host writes meanwhile.
  Matrix3x4 content[kMaxPaletteJoints];
  copyPalette(content, s.palette, s.padded);
  s.content = content;

  const uint32_t firstFailure = math::firstNonRigidJoint(s.content, s.joints);
  const bool rigid = firstFailure == s.joints;
  const uint32_t nonRigidIndex = rigid ? kNoNonRigidJoint : firstFailure;

  math::PaletteRotations rotations;
  s.rotations = &rotations;

  // The table work under the lock; the rotations and the hash before it, the
  // blend and its hash after it.
  math::PaletteTranslations fromTranslations;
  math::PaletteRotations fromRotations;
  PairToBlend pair{};
  TableStep step =
      sampleIntoTrack(record, s, frame, rigid, nonRigidIndex, false, 0, &fromTranslations, &fromRotations, &pair);
  if (step == TableStep::kNeedsHash) {
    const uint64_t hash = math::digestMatrix3x4Array(s.content, s.joints);
    if (rigid) math::paletteRotations(s.content, s.joints, s.rotations);
    step =
        sampleIntoTrack(record, s, frame, rigid, nonRigidIndex, true, hash, &fromTranslations, &fromRotations, &pair);
  }
  if (step != TableStep::kBlend) return false;
  math::blendRotatedPalette(fromTranslations, fromRotations, s.content, rotations, s.joints, pair.alpha,
                            presentationPalette);
  copyPalette(presentationPalette + s.joints, s.content + s.joints, s.padded - s.joints);
  fillUpload(pair.trackId, s, record, serial, math::digestMatrix3x4Array(presentationPalette, s.joints), pair.alpha,
             upload);
  return true;
}

void recordUpload(const PaletteUpload& upload) {
  bump(c.uploadAdjusted);
  if (upload.firstPerson) {
    bump(c.scopeAdjustedFirstPerson);
  } else {
    bump(c.scopeAdjustedWorld);
    if (upload.cinematic) bump(c.cinematicAdjusted);
  }

  ExclusiveGuard guard(skeletalTableLock);
  SkeletalTrack* track = findSkeletalTrack(upload.model, upload.ownerKey, upload.presentationSerial, false);
  if (track == nullptr || track->id != upload.trackId) return;
  track->interpolated += 1;
  if (track->uploaded && track->lastUploadSerial == upload.presentationSerial) {
    bump(c.uploadSameFrame);
    return;
  }
  bump(c.uploadFrames);
  if (upload.firstPerson) bump(c.firstPersonFrames);
  else if (upload.cinematic) bump(c.cinematicFrames);

  if (track->uploaded) {
    const bool repeated = upload.hash == track->lastUploadHash;
    bump(repeated ? c.uploadRepeated : c.uploadChanged);
    if (upload.firstPerson) bump(repeated ? c.firstPersonRepeated : c.firstPersonChanged);
    const uint64_t gap = upload.presentationSerial - track->lastUploadSerial;
    bump(gap == 1 ? c.uploadGap1 : gap == 2 ? c.uploadGap2 : c.uploadGapMore);
    if (upload.firstPerson) bump(gap == 1 ? c.firstPersonGap1 : gap == 2 ? c.firstPersonGap2 : c.firstPersonGapMore);
  }

  const double alpha = upload.alpha;
  int bucket = 4;
  if (!(alpha > 0.0)) bucket = 0;
  else if (alpha <= 0.5) bucket = 1;
  else if (alpha <= 1.0) bucket = 2;
  else if (alpha <= 1.5) bucket = 3;
  bump(c.uploadAlpha[bucket]);

  track->uploaded = true;
  track->lastUploadSerial = upload.presentationSerial;
  track->lastUploadHash = upload.hash;
}

}  // namespace corvane::skeletal
