#include "world/world_pass.h"

#include <cmath>
#include <cstring>

#include "diagnostics/counters.h"
#include "math/blend.h"
#include "math/quaternion.h"
#include "math/transform.h"
#include "patch/readable.h"
#include "world/content_key.h"
#include "world/identify_model.h"
#include "world/model_record.h"
#include "world/world_tracks.h"

namespace corvane::world {

using camera::kMaxSampleGap;
using camera::kSampleTimeTolerance;
using diagnostics::bump;
using diagnostics::counters;
using diagnostics::WorldCounters;
using math::decomposeScaled;
using math::ScaledRigid;
using os::ExclusiveGuard;

namespace {

bool sameBits(const Matrix4x4& a, const Matrix4x4& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What one call learned of each distinct matrix it compared, blended or
// inverted. Within one call the same matrix turns up many times (the host's
// current matrix is usually the track's latest sample and often the host's
// previous one too), and from one call to the next a track's samples and the
// matrix it presented come back: their facts are kept in the track.
struct FactsMemo {
  // A call meets at most six distinct matrices: the host's two, the track's
  // two samples (one of them replaced on a new sample), the interpolated one
  // and the one presented a frame earlier.
  static constexpr int kCapacity = 8;
  MatrixFacts entries[kCapacity];
  int count = 0;
  int seeded = 0;
  WorldTrack* track = nullptr;  // whose kept facts are searched after the call's own

  MatrixFacts* find(const Matrix4x4& m) {
    for (int i = 0; i < count; ++i) {
      if (sameBits(entries[i].matrix, m)) return &entries[i];
    }
    // Read the count on every search: a track taken over by another model
    // during the visit has none.
    const uint32_t kept = track != nullptr ? track->keptCount : 0;
    for (uint32_t i = 0; i < kept; ++i) {
      if (sameBits(track->kept[i].matrix, m)) return &track->kept[i];
    }
    return nullptr;
  }

  MatrixFacts& of(const Matrix4x4& m) {
    if (MatrixFacts* known = find(m)) return *known;
    return add(m, decomposeScaled(m));
  }

  // Takes what is already known of `m` (the same bytes give the same facts).
  void seed(const Matrix4x4& m, const ScaledRigid& decomposed) {
    add(m, decomposed);
    seeded = count;
  }

  // A new entry; the inverse and the comparison with itself wait until asked for.
  MatrixFacts& add(const Matrix4x4& m, const ScaledRigid& decomposed) {
    MatrixFacts& entry = entries[count < kCapacity ? count++ : kCapacity - 1];
    entry.matrix = m;
    entry.decomposed = decomposed;
    entry.inverseKnown = false;
    entry.selfKnown = false;
    return entry;
  }
};

// The inverse of an entry's matrix, worked out when first asked for.
const Matrix4x4* inverseOf(MatrixFacts& entry) {
  if (!entry.inverseKnown) {
    entry.inverseOk = math::inverseAffine(entry.matrix, &entry.inverse);
    entry.inverseKnown = true;
  }
  return entry.inverseOk ? &entry.inverse : nullptr;
}

// Keeps in the track the facts this call worked out for the track's own
// latest matrices, in the places of kept facts of matrices it no longer has.
void keepFacts(const FactsMemo& memo, WorldTrack* track) {
  if (memo.count == memo.seeded) return;  // nothing new
  const Matrix4x4* wanted[kKeptFacts] = {&track->currentMatrix, &track->previousMatrix, &track->presentedCurrent};
  bool stays[kKeptFacts] = {};
  uint32_t kept = track->keptCount;
  for (uint32_t k = 0; k < kept; ++k) {
    for (const Matrix4x4* w : wanted) stays[k] = stays[k] || sameBits(track->kept[k].matrix, *w);
  }
  for (const Matrix4x4* w : wanted) {
    bool present = false;
    for (uint32_t k = 0; k < kept && !present; ++k) present = stays[k] && sameBits(track->kept[k].matrix, *w);
    if (present) continue;
    const MatrixFacts* learned = nullptr;
    for (int i = memo.seeded; i < memo.count && learned == nullptr; ++i) {
      if (sameBits(memo.entries[i].matrix, *w)) learned = &memo.entries[i];
    }
    if (learned == nullptr) continue;
    uint32_t k = 0;
    while (k < kept && stays[k]) ++k;
    if (k == kKeptFacts) continue;
    if (k == kept) ++kept;
    track->kept[k] = *learned;
    stays[k] = true;
  }
  track->keptCount = kept;
}

double translationDistance(const math::RigidTransform& a, const math::RigidTransform& b) {
  const double dx = a.translation[0] - b.translation[0];
  const double dy = a.translation[1] - b.translation[1];
  const double dz = a.translation[2] - b.translation[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

bool differsDecomposed(const ScaledRigid& a, const ScaledRigid& b, double distanceTolerance, double angleTolerance,
                       double scaleTolerance) {
  if (!a.ok || !b.ok || a.mirrored != b.mirrored) return true;
  if (translationDistance(a.rigid, b.rigid) > distanceTolerance) return true;
  if (math::rotationAngleDegrees(a.rotation, b.rotation) > angleTolerance) return true;
  return std::fabs(a.scale - b.scale) > scaleTolerance;
}

// A memo holds one entry per matrix, so the same entry twice is the same
// bytes twice: a comparison a track's sample makes with itself between two
// samples, answered once per matrix.
bool differs(MatrixFacts& a, MatrixFacts& b) {
  if (&a == &b && a.selfKnown) return a.selfDiffers;
  const bool answer =
      differsDecomposed(a.decomposed, b.decomposed, kSameDistanceTolerance, kSameAngleDegrees, kSameScaleTolerance);
  if (&a == &b) {
    a.selfDiffers = answer;
    a.selfKnown = true;
  }
  return answer;
}

bool differs(FactsMemo& memo, const Matrix4x4& a, const Matrix4x4& b) {
  MatrixFacts& facts = memo.of(a);
  return differs(facts, memo.of(b));
}

// relativeTransforms(a, b) from what the memo knows of a and b.
bool relativePair(MatrixFacts& a, MatrixFacts& b, Matrix4x4* forward, Matrix4x4* backward) {
  if (!a.decomposed.ok || !b.decomposed.ok || a.decomposed.mirrored != b.decomposed.mirrored) return false;
  const Matrix4x4* inverseA = inverseOf(a);
  const Matrix4x4* inverseB = inverseA != nullptr ? inverseOf(b) : nullptr;
  if (inverseA == nullptr || inverseB == nullptr) return false;
  return math::relativeTransformsOf(a.matrix, *inverseA, b.matrix, *inverseB, forward, backward);
}

// A sample time that breaks a track whose latest sample is at `latest`:
// earlier than it, or too long after it.
bool breaksTrack(double latest, double t) { return latest - kSampleTimeTolerance > t || t - latest > kMaxSampleGap; }

// A sample time later than the track's latest, not the same one again.
bool isLater(double latest, double t) { return t > latest + kSampleTimeTolerance; }

// Two samples this far apart make a pair to interpolate.
bool usableSpan(double dt) { return !(dt <= kSampleTimeTolerance || dt > kMaxSampleGap); }

// The blend factor of a frame presented at `presentationTime` between samples
// at p and q, extrapolating at most kMaxExtrapolation past q.
double blendFactor(double p, double q, double presentationTime) {
  const double target = std::fmin(presentationTime, q + kMaxExtrapolation);
  return (std::fmax(target, p) - p) / (q - p);
}

// Seeds a track's first sample; identity fields, id and statistics stay.
void seedSample(WorldTrack* track, double sampleTime, const Matrix4x4& matrix, bool mirrored, uint64_t serial) {
  track->currentSampleTime = sampleTime;
  track->currentMatrix = matrix;
  track->reflected = mirrored;
  track->lastSeenSerial = serial;
}

// Discards the samples and the presented state after a discontinuity.
void reseed(WorldTrack* track, double sampleTime, const Matrix4x4& matrix, bool mirrored, uint64_t serial) {
  track->previousSampleTime = 0.0;
  track->previousMatrix = Matrix4x4{};
  track->presentedPrevious = Matrix4x4{};
  track->presentedCurrent = Matrix4x4{};
  track->preparedSerial = 0;
  track->pairValid = false;
  track->presentedValid = false;
  track->discontinuities += 1;
  seedSample(track, sampleTime, matrix, mirrored, serial);
}

bool dropPair(WorldTrack* track) {
  track->pairValid = false;
  track->presentedValid = false;
  return false;
}

void recordNonRigid(const uint8_t* record, const void* ownerKey, const PresentationFrame& frame,
                    const Matrix4x4& current, bool exactCurrent, bool exactPrevious) {
  const double t = frame.sampleTime;
  const uint64_t serial = frame.presentationSerial;
  ExclusiveGuard guard(nonRigidTrackLock);
  NonRigidTrack* track = findNonRigidTrack(record, ownerKey, serial, false);
  if (track == nullptr) {
    track = findNonRigidTrack(record, ownerKey, serial, true);
    if (track == nullptr) return;
    track->sampleTime = t;
    track->matrix = current;
  } else if (t > track->sampleTime + kSampleTimeTolerance) {
    bool changed = false;
    for (int i = 0; i < 16; ++i) {
      if (std::fabs(current.m[i] - track->matrix.m[i]) > kNonRigidChangeThreshold) changed = true;
    }
    if (changed) {
      if (track->changeCount == 0) track->firstChangeSerial = serial;
      track->lastChangeSerial = serial;
      track->changeCount += 1;
    }
    track->sampleTime = t;
    track->matrix = current;
  } else if (track->sampleTime - kSampleTimeTolerance > t) {
    track->sampleTime = t;
    track->matrix = current;
  }
  track->lastSeenSerial = serial;
  track->currentRigid = exactCurrent;
  track->previousRigid = exactPrevious;
}

// The matrix presented between the track's two samples. When the two samples
// are the same matrix X, the blend gives the same matrix for every finite
// alpha >= +0 (each difference is +0, so each blended value is X's own, and the
// quaternion takes the linear branch with itself), so it is worked out once
// per rest pair and kept with its comparison against X.
bool interpolateOnTrack(FactsMemo& memo, WorldTrack* track, const ScaledRigid& from, const ScaledRigid& to,
                        double alpha, Matrix4x4* out) {
  const bool atRest =
      math::isFiniteDouble(alpha) && !std::signbit(alpha) && sameBits(track->previousMatrix, track->currentMatrix);
  if (atRest && track->restKnown && sameBits(track->restKey, track->currentMatrix)) {
    *out = track->restMatrix;
    return true;
  }
  if (!math::interpolateScaledRigid(from, to, alpha, out)) return false;
  if (atRest) {
    track->restKey = track->currentMatrix;
    track->restFacts = to;
    track->restScaled = std::fabs(to.scale - 1.0) > kUnitScaleTolerance;
    track->restMirrored = to.mirrored;
    track->restSelfDiffers = differs(memo, track->currentMatrix, track->currentMatrix);
    track->restMatrix = *out;
    track->restDiffers = differs(memo, track->currentMatrix, *out);
    track->restKnown = true;
  }
  return true;
}

// The counts of a rigid pair with the same reflection, admitted to the table.
void countAdmitted(const ScaledRigid& a, const ScaledRigid& b) {
  WorldCounters& c = counters.world;
  if (std::fabs(a.scale - 1.0) > kUnitScaleTolerance || std::fabs(b.scale - 1.0) > kUnitScaleTolerance) {
    bump(c.uniformScaled);
  }
  if (a.mirrored) bump(c.reflectedSupported);
  bump(c.supported);
}

// Whether the track's latest sample and `m` are both its rest matrix.
bool bothAtRest(const WorldTrack* track, const Matrix4x4& a, const Matrix4x4& b) {
  return track->restKnown && sameBits(a, track->restKey) && sameBits(b, track->restKey);
}

// differs(a, b) for the track's samples and the host's matrix, taken from the
// rest pair when both are its matrix.
bool sampleDiffers(FactsMemo& memo, const WorldTrack* track, const Matrix4x4& a, const Matrix4x4& b) {
  return bothAtRest(track, a, b) ? track->restSelfDiffers : differs(memo, a, b);
}

// What the pass reads of a world model's record, once: who the model is and
// its two world matrices.
struct ModelSample {
  const void* ownerKey = nullptr;
  const void* classIdentity = nullptr;
  const void* asset = nullptr;
  bool cinematic = false;
  Matrix4x4 current;
  Matrix4x4 previous;
};

// What a visit of the model's track hands back from under the locks.
struct Visit {
  enum class Refusal { kNone, kNonRigid, kParity } refusal = Refusal::kNone;
  ScaledRigid refused[2];  // the host's two matrices, for a non-rigid refusal
  bool reflected = false;
  uint64_t key = 0;  // contentKey of the host's current matrix, when asked for
  WorldCorrection pairs;
};

// Step 1: the record is a world model the pass follows.
bool identify(ReadableRegionMemo& probes, const uint8_t* record, ModelSample* model) {
  if (!identifyWorldModel(probes, record, &model->ownerKey, &model->classIdentity, &model->asset, &model->cinematic)) {
    return false;
  }
  model->current = bootstrap::readField<Matrix4x4>(record, bootstrap::kModelCurrentWorldOffset);
  model->previous = bootstrap::readField<Matrix4x4>(record, bootstrap::kModelPreviousWorldOffset);
  return true;
}

// The track knows the facts of its rest pair and of its latest matrices, which
// are mostly the host's two.
void attachTrack(FactsMemo& memo, WorldTrack* track, const ModelSample& model) {
  if (track == nullptr) return;
  if (track->restKnown && sameBits(model.current, model.previous) && sameBits(track->restKey, model.current)) {
    memo.seed(model.current, track->restFacts);
  }
  memo.track = track;
}

// The host's two matrices, decomposed, are rigid with the same reflection; a
// refusal is left in `visit`, to be counted after the locks.
bool admissible(const ScaledRigid& a, const ScaledRigid& b, Visit* visit) {
  if (!a.ok || !b.ok) {
    visit->refusal = Visit::Refusal::kNonRigid;
    visit->refused[0] = a;
    visit->refused[1] = b;
    return false;
  }
  if (a.mirrored != b.mirrored) {
    visit->refusal = Visit::Refusal::kParity;
    return false;
  }
  return true;
}

bool admitPair(FactsMemo& memo, const ModelSample& model, Visit* visit, bool* mirrored) {
  const ScaledRigid& a = memo.of(model.current).decomposed;
  const ScaledRigid& b = memo.of(model.previous).decomposed;
  if (!admissible(a, b, visit)) return false;
  countAdmitted(a, b);
  *mirrored = a.mirrored;
  return true;
}

// A track's start for the model: its identity and first sample.
void startTrack(WorldTrack* track, const ModelSample& model, double t, bool mirrored, uint64_t serial) {
  track->classIdentity = model.classIdentity;
  track->asset = model.asset;
  seedSample(track, t, model.current, mirrored, serial);
  bump(counters.world.tracks);
}

// A sample later than the track's latest: the latest becomes the previous one,
// counted as motion when the two differ.
void advanceSamples(FactsMemo& memo, WorldTrack* track, const Matrix4x4& current, double t, bool mirrored,
                    uint64_t serial) {
  WorldCounters& c = counters.world;
  const bool moved = sampleDiffers(memo, track, track->currentMatrix, current);
  track->previousSampleTime = track->currentSampleTime;
  track->previousMatrix = track->currentMatrix;
  track->currentMatrix = current;
  track->currentSampleTime = t;
  track->pairValid = true;
  bump(c.pairs);
  if (!moved) return;
  bump(c.moving);
  if (track->motionCount == 0) track->firstMotionSerial = serial;
  track->lastMotionSerial = serial;
  track->motionCount += 1;
  if (mirrored) bump(c.reflectedMoving);
}

// Step 2: takes the host's current matrix into the model's track. `track` is
// the track found under the locks (see world_tracks.h); null only under the
// exclusive hold, where a new one is made. True when the track's pair is to be
// checked.
bool sample(FactsMemo& memo, WorldTrack* track, const uint8_t* record, const ModelSample& model, bool mirrored,
            const PresentationFrame& frame) {
  WorldCounters& c = counters.world;
  const double t = frame.sampleTime;
  const uint64_t serial = frame.presentationSerial;
  if (track == nullptr) {
    track = findWorldTrack(record, model.ownerKey, serial, true);
    if (track != nullptr) startTrack(track, model, t, mirrored, serial);
    return false;
  }
  if (track->classIdentity != model.classIdentity || track->asset != model.asset) {
    // Another model at the same address: a new track in the same slot.
    renewWorldTrack(track, serial);
    startTrack(track, model, t, mirrored, serial);
    return false;
  }
  track->lastSeenSerial = serial;
  const double latest = track->currentSampleTime;
  if (breaksTrack(latest, t)) {
    bump(c.rejectedDiscontinuity);
    reseed(track, t, model.current, mirrored, serial);
    return false;
  }
  if (isLater(latest, t)) {
    advanceSamples(memo, track, model.current, t, mirrored, serial);
  } else if (sampleDiffers(memo, track, track->currentMatrix, model.current)) {
    // Moved without a new sample time: nothing to interpolate between.
    track->currentMatrix = model.current;
    bump(c.rejectedSameTime);
    return dropPair(track);
  }
  return true;
}

// Step 3: the track's samples make a pair to interpolate: a usable time apart,
// both rigid with the same reflection, and no jump between them. A refused
// pair is dropped.
bool checkPair(FactsMemo& memo, WorldTrack* track, ScaledRigid* from, ScaledRigid* to) {
  WorldCounters& c = counters.world;
  const double dt = track->currentSampleTime - track->previousSampleTime;
  *from = memo.of(track->previousMatrix).decomposed;
  *to = memo.of(track->currentMatrix).decomposed;
  const bool parity = from->ok && to->ok && from->mirrored != to->mirrored;
  if (!track->pairValid || !usableSpan(dt) || !from->ok || !to->ok || parity) {
    if (parity) bump(c.rejectedReflectionParity);
    return dropPair(track);
  }
  // A rest pair passed these checks when its matrix was worked out.
  if (!bothAtRest(track, track->previousMatrix, track->currentMatrix) &&
      (translationDistance(from->rigid, to->rigid) > kMaxPairDistance ||
       math::rotationAngleDegrees(from->rotation, to->rotation) > kMaxPairAngleDegrees ||
       to->scale / from->scale > kMaxPairScaleRatio || from->scale / to->scale > kMaxPairScaleRatio)) {
    bump(c.rejectedJump);
    return dropPair(track);
  }
  return true;
}

// Step 4: the matrix presented for this frame, extrapolating at most
// kMaxExtrapolation past the latest sample; the track keeps it with the one
// presented a frame earlier.
bool interpolate(FactsMemo& memo, WorldTrack* track, const ScaledRigid& from, const ScaledRigid& to,
                 const PresentationFrame& frame, Matrix4x4* presented) {
  const uint64_t serial = frame.presentationSerial;
  // A frame's times come with its serial, and the pair cannot change within a
  // frame without dropping what was presented: a later call of the same frame
  // presents what the first one worked out.
  if (track->presentedValid && track->preparedSerial == serial) {
    *presented = track->presentedCurrent;
    return true;
  }
  const double alpha = blendFactor(track->previousSampleTime, track->currentSampleTime, frame.presentationTime);
  if (!interpolateOnTrack(memo, track, from, to, alpha, presented)) {
    bump(counters.world.rejectedReflectionParity);
    return dropPair(track);
  }
  if (track->preparedSerial != serial) {
    const bool consecutive = track->presentedValid && track->preparedSerial + 1 == serial;
    track->presentedPrevious = consecutive ? track->presentedCurrent : *presented;
    track->presentedCurrent = *presented;
    track->preparedSerial = serial;
    track->presentedValid = true;
  }
  return true;
}

// Step 5: the host's current matrix onto the presented one, the host's previous
// matrix onto what was presented a frame earlier, counted in the track. False
// when neither differs or a pair cannot be had.
bool buildCorrections(FactsMemo& memo, WorldTrack* track, const ModelSample& model, const Matrix4x4& presented,
                      uint64_t serial, WorldCorrection* pairs) {
  const Matrix4x4& presentedPrevious = track->presentedPrevious;
  // A model at rest whose host matrices are the rest pair's and whose presented
  // matrices are the rest matrix: both comparisons are the one already made.
  const bool restHolds = track->restKnown && sameBits(model.current, track->restKey) &&
                         sameBits(model.previous, track->restKey) && sameBits(presented, track->restMatrix) &&
                         sameBits(presentedPrevious, track->restMatrix);
  if (restHolds && !track->restDiffers) return false;
  // Each matrix is looked up once: the call meets too few to fill the memo, so
  // no lookup here replaces an entry another one returned.
  MatrixFacts& current = memo.of(model.current);
  MatrixFacts& shown = memo.of(presented);
  const bool changedCurrent = differs(current, shown);
  MatrixFacts& previous = memo.of(model.previous);
  MatrixFacts& shownBefore = memo.of(presentedPrevious);
  const bool changedPrevious = differs(previous, shownBefore);
  if (!(changedCurrent || changedPrevious)) return false;
  if (!relativePair(current, shown, &pairs->currentForward, &pairs->currentInverse) ||
      !relativePair(previous, shownBefore, &pairs->previousForward, &pairs->previousInverse)) {
    return false;
  }
  pairs->presentationSerial = serial;
  track->correctedCount += 1;
  track->lastCorrectionSerial = serial;
  return true;
}

// contentKey(current), from the track while its key matrix is `current`.
uint64_t keyOfCurrent(WorldTrack* track, const Matrix4x4& current) {
  if (track->keyValue == 0 || !sameBits(track->keyMatrix, current)) {
    track->keyMatrix = current;
    track->keyValue = contentKey(current);
  }
  return track->keyValue;
}

// Whether the track is steady (see WorldTrack::steady).
bool isSteady(const WorldTrack* track) {
  return track->pairValid && track->presentedValid && track->restKnown && !track->restDiffers &&
         !track->restSelfDiffers && sameBits(track->previousMatrix, track->restKey) &&
         sameBits(track->currentMatrix, track->restKey) && sameBits(track->presentedPrevious, track->restMatrix) &&
         sameBits(track->presentedCurrent, track->restMatrix);
}

// Steps 2 to 5 for a steady track whose host matrices are its rest key, from
// the track's first lines: what the whole visit would do, which is to count the
// pair admitted, take a new sample time (the matrices stay the same bits) and
// present the rest matrix again, with nothing to correct. False, with nothing
// changed, when the visit needs the whole path (a new model at the address, a
// discontinuity, a span or factor the pair cannot take).
bool steadyVisit(WorldTrack* track, const ModelSample& model, const PresentationFrame& frame) {
  if (!sameBits(model.current, track->restKey) || !sameBits(model.previous, track->restKey)) return false;
  if (track->classIdentity != model.classIdentity || track->asset != model.asset) return false;
  const double t = frame.sampleTime;
  const uint64_t serial = frame.presentationSerial;
  const double latest = track->currentSampleTime;
  if (breaksTrack(latest, t)) return false;
  const bool newSample = isLater(latest, t);
  const double p = newSample ? latest : track->previousSampleTime;
  const double q = newSample ? t : latest;
  if (!usableSpan(q - p)) return false;
  if (track->preparedSerial != serial) {
    const double alpha = blendFactor(p, q, frame.presentationTime);
    if (!math::isFiniteDouble(alpha) || std::signbit(alpha)) return false;
  }
  WorldCounters& c = counters.world;
  if (track->restScaled) bump(c.uniformScaled);
  if (track->restMirrored) bump(c.reflectedSupported);
  bump(c.supported);
  track->lastSeenSerial = serial;
  if (newSample) {
    track->previousSampleTime = latest;
    track->currentSampleTime = t;
    bump(c.pairs);
  }
  track->preparedSerial = serial;
  return true;
}

// Steps 2 to 5 with the model's track, under the locks withModelTrack holds.
// True when `visit` holds the corrections.
bool visitTrack(WorldTrack* track, const uint8_t* record, const ModelSample& model, const PresentationFrame& frame,
                bool wantKey, Visit* visit) {
  if (track != nullptr && track->steady && steadyVisit(track, model, frame)) return false;
  FactsMemo memo;
  attachTrack(memo, track, model);
  bool mirrored = false;
  if (!admitPair(memo, model, visit, &mirrored)) return false;
  ScaledRigid from, to;
  Matrix4x4 presented;
  const bool due = sample(memo, track, record, model, mirrored, frame) && checkPair(memo, track, &from, &to) &&
                   interpolate(memo, track, from, to, frame, &presented) &&
                   buildCorrections(memo, track, model, presented, frame.presentationSerial, &visit->pairs);
  if (track != nullptr) {
    keepFacts(memo, track);
    track->steady = isSteady(track);
  }
  if (!due) return false;
  visit->reflected = track->reflected;
  if (wantKey) visit->key = keyOfCurrent(track, model.current);
  return true;
}

// The counts of a pair refused before its track was sampled; a non-rigid one
// is followed in its own table.
void countRefusal(const uint8_t* record, const ModelSample& model, const PresentationFrame& frame, const Visit& visit) {
  WorldCounters& c = counters.world;
  if (visit.refusal == Visit::Refusal::kNonRigid) {
    bump(c.rejectedNonRigid);
    if (!visit.refused[0].ok) bump(c.nonRigidCurrent);
    if (!visit.refused[1].ok) bump(c.nonRigidPrevious);
    recordNonRigid(record, model.ownerKey, frame, model.current, visit.refused[0].exact, visit.refused[1].exact);
  } else if (visit.refusal == Visit::Refusal::kParity) {
    bump(c.rejectedReflectionParity);
  }
}

// Runs `body` once with the model's track: under the part of the track lock
// that guards its key when the track exists, else under the whole lock with
// the track as then found (null when there is none yet). Without a track, a
// pair that `admitted` refuses would be refused from its first step with
// nothing in the table read or changed, so the whole lock is not taken.
template <class Body, class Admitted>
bool withModelTrack(const uint8_t* record, const void* ownerKey, uint64_t serial, Body body, Admitted admitted) {
  {
    ExclusiveGuard part(worldTrackPart(record, ownerKey));
    WorldTrack* track = findWorldTrack(record, ownerKey, serial, false);
    if (track != nullptr) return body(track);
  }
  if (!admitted()) return false;
  ExclusiveGuard table(worldTrackLock);
  return body(findWorldTrack(record, ownerKey, serial, false));
}

}  // namespace

bool transformsDiffer(const Matrix4x4& a, const Matrix4x4& b, double distanceTolerance, double angleTolerance,
                      double scaleTolerance) {
  return differsDecomposed(decomposeScaled(a), decomposeScaled(b), distanceTolerance, angleTolerance, scaleTolerance);
}

bool prepareWorldCorrection(const uint8_t* record, const PresentationFrame& frame, WorldCorrection* out) {
  ReadableRegionMemo probes;
  return prepareWorldCorrection(probes, record, frame, out);
}

bool prepareWorldCorrection(ReadableRegionMemo& probes, const uint8_t* record, const PresentationFrame& frame,
                            WorldCorrection* out, MatrixKey* key) {
  if (!frame.timesValid) return false;
  ModelSample model;
  if (!identify(probes, record, &model)) return false;
  // One hold of the locks per visit.
  Visit visit;
  const bool due = withModelTrack(
      record, model.ownerKey, frame.presentationSerial,
      [&](WorldTrack* track) { return visitTrack(track, record, model, frame, key != nullptr, &visit); },
      [&] {
        const ScaledRigid current = decomposeScaled(model.current);
        return admissible(current, sameBits(model.previous, model.current) ? current : decomposeScaled(model.previous),
                          &visit);
      });
  if (!due) {
    countRefusal(record, model, frame, visit);
    return false;
  }
  if (visit.reflected) bump(counters.world.reflectedAdjusted);
  if (model.cinematic) bump(counters.world.cinematicAdjusted);
  *out = visit.pairs;
  if (key != nullptr) *key = MatrixKey{model.current, visit.key};
  return true;
}

}  // namespace corvane::world
