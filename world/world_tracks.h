// The memory of the world pass: one track per followed model in a fixed
// open-addressing table, a smaller table of models whose transforms cannot be
// interpolated (diagnostics only), and the lock that guards both.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "camera/frame_state.h"
#include "math/transform.h"
#include "math/types.h"
#include "platform/locks.h"

namespace corvane::world {

using math::Matrix4x4;
using os::ShardedLock;
using os::SlimLock;

// What the world pass learned of one matrix: its decomposition and, once
// asked for, its inverse and whether it differs from itself. The functions are
// pure, so the same bytes always get the same answers.
struct MatrixFacts {
  Matrix4x4 matrix;
  math::ScaledRigid decomposed;
  Matrix4x4 inverse;
  bool inverseKnown;
  bool inverseOk;
  bool selfKnown;
  bool selfDiffers;
};
constexpr uint32_t kKeptFacts = 3;

// The fields a visit of a model at rest reads come first: the key, the sample
// times, the serials and flags in the first line, the rest pair's key matrix in
// the next; a track starts on a line of its own.
struct alignas(64) WorldTrack {
  const void* model;  // null marks an empty slot
  const void* ownerKey;
  const void* asset;
  const void* classIdentity;
  double previousSampleTime;
  double currentSampleTime;
  uint64_t lastSeenSerial;
  uint64_t preparedSerial;
  bool pairValid;
  bool presentedValid;
  bool reflected;
  // The matrix presented while both samples are restKey, and whether it
  // differs from restKey; valid while restKnown (cleared with the slot).
  bool restKnown;
  bool restDiffers;
  bool restSelfDiffers;  // transformsDiffer(restKey, restKey)
  bool restScaled;       // restFacts' scale is not 1 within kUnitScaleTolerance
  bool restMirrored;     // restFacts.mirrored
  // Both samples are restKey, both presented matrices restMatrix, the pair and
  // what was presented valid, and neither comparison of the rest pair differs:
  // a visit whose host matrices are restKey changes only times and serials.
  bool steady;
  Matrix4x4 restKey;
  Matrix4x4 restMatrix;
  Matrix4x4 previousMatrix;
  Matrix4x4 currentMatrix;
  Matrix4x4 presentedPrevious;
  Matrix4x4 presentedCurrent;
  uint64_t id;
  uint64_t firstSerial;
  uint64_t firstMotionSerial;
  uint64_t lastMotionSerial;
  uint64_t lastCorrectionSerial;
  uint64_t motionCount;
  uint64_t correctedCount;
  uint64_t reportedMotion;
  uint64_t reportedCorrected;
  uint64_t discontinuities;
  math::ScaledRigid restFacts;  // decomposeScaled(restKey)
  // The facts of the latest of its own matrices (the samples and the matrix
  // presented), for the next visit; keptCount entries are valid.
  MatrixFacts kept[kKeptFacts];
  uint32_t keptCount;
  // contentKey(keyMatrix) when keyValue is not 0 (the last current matrix
  // whose key a shadow publication asked for).
  Matrix4x4 keyMatrix;
  uint64_t keyValue;
};

struct NonRigidTrack {
  const void* model;  // null marks an empty slot
  const void* ownerKey;
  double sampleTime;
  Matrix4x4 matrix;
  uint64_t id;
  uint64_t firstSerial;
  uint64_t lastSeenSerial;
  uint64_t firstChangeSerial;
  uint64_t lastChangeSerial;
  uint64_t changeCount;
  uint64_t reportedChanges;
  bool currentRigid;
  bool previousRigid;
};

constexpr size_t kWorldTrackCount = 8192;
constexpr uint64_t kWorldTrackMask = kWorldTrackCount - 1;
constexpr uint32_t kWorldTrackProbes = 64;
constexpr size_t kNonRigidTrackCount = 1024;
constexpr uint64_t kNonRigidTrackMask = kNonRigidTrackCount - 1;
constexpr uint32_t kNonRigidTrackProbes = 32;

// Locking. worldTrackLock is in parts, each for a share of the keys. Held
// whole it covers the world table whole: taking a slot (a new or stale one) and
// every reader of the whole table. A visit of one existing track holds only the
// part of its key (worldTrackPart): a slot's key fields change only under the
// whole hold, and a track's other fields only under its key's part (or the
// whole hold), so visits of different models run side by side. The non-rigid
// table has its own lock.
extern WorldTrack worldTrackTable[kWorldTrackCount];
extern NonRigidTrack nonRigidTable[kNonRigidTrackCount];
extern ShardedLock worldTrackLock;
extern SlimLock nonRigidTrackLock;
extern std::atomic<uint64_t> nextWorldTrackId;
extern std::atomic<uint64_t> nextNonRigidTrackId;
// The key of every world slot, apart from the tracks, so that a probe walk
// reads 16 bytes a slot instead of a line of a 700-byte track. Kept equal to
// each slot's (model, ownerKey): written with them, under the exclusive hold.
struct SlotKey {
  const void* model;
  const void* ownerKey;
};
extern SlotKey worldTrackKeys[kWorldTrackCount];

// First slot of each table's probe sequence for a (record, owner key) pair.
uint64_t worldTrackStartIndex(const void* model, const void* ownerKey);
uint64_t nonRigidTrackStartIndex(const void* model, const void* ownerKey);

// The part of worldTrackLock that guards (model, ownerKey)'s track.
SlimLock& worldTrackPart(const void* model, const void* ownerKey);

// The track of (model, ownerKey); with `create`, a new one in the first empty,
// else first stale slot of the sequence (null and capacityMiss when neither).
// Without `create` it reads only the slots' key fields.
WorldTrack* findWorldTrack(const void* model, const void* ownerKey, uint64_t serial, bool create);
NonRigidTrack* findNonRigidTrack(const void* model, const void* ownerKey, uint64_t serial, bool create);

// Starts bringing in what a visit of (model, ownerKey)'s track reads first:
// the slot key at the start of its probe sequence and that slot's first lines.
void prefetchWorldTrack(const void* model, const void* ownerKey);

// Starts a new track in the slot of `track`, which keeps its key (model,
// ownerKey): all else cleared, a new id, first seen at `serial`.
void renewWorldTrack(WorldTrack* track, uint64_t serial);

}  // namespace corvane::world
