// The skeletal track tables: per skinned model the last two rigid palettes the
// host uploaded (of the earlier one what the blend reads), with their sample times; and a small table that only
// observes skinned models whose owner is unreadable. Fixed tables in static storage, open addressing with bounded
// probes, no allocation, no deletion. Every operation here except recordOwnerlessSample expects skeletalTableLock held
// exclusively.
#pragma once
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "camera/frame_state.h"
#include "math/blend.h"
#include "math/palette_blend.h"
#include "math/types.h"
#include "platform/locks.h"

namespace corvane::skeletal {

using camera::PresentationFrame;
using math::Matrix3x4;
using os::SlimLock;

constexpr uint32_t kSkeletalTrackSlots = 1024;
constexpr uint32_t kSkeletalTrackProbes = 32;
constexpr uint32_t kOwnerlessTrackSlots = 512;
constexpr uint32_t kOwnerlessTrackProbes = 24;
constexpr uint32_t kNoNonRigidJoint = 0xFFFFFFFFu;

// What both tables keep of a skinned model: its key, what it last uploaded,
// and the history the track reports list.
struct SkinnedHistory {
  const void* model;  // key, first half; null: the slot is empty
  const void* asset;
  const void* palette;
  uint32_t joints;
  uint32_t padded;
  uint64_t hash;
  uint64_t id;
  uint64_t firstSerial;
  uint64_t lastSerial;
  uint64_t firstChangeSerial;
  uint64_t lastChangeSerial;
  uint64_t samples;
  uint64_t changes;
  uint64_t rigidSamples;
  uint64_t reportedSamples;  // report baselines, written only by the track reports
  uint64_t reportedChanges;
  float root[3];
  bool rigid;
};

struct SkeletalTrack : SkinnedHistory {
  const void* ownerKey;  // key, second half: the owner, or the asset
  double previousTime;
  double currentTime;
  uint64_t interpolated;
  uint64_t reportedInterpolated;
  uint32_t nonRigidJoint;  // kNoNonRigidJoint when none recorded
  double rowLength[3];
  double maxRowDot;
  double det;
  bool firstPerson;
  bool cinematic;
  bool hasReference;
  bool pairReady;
  bool uploaded;
  uint64_t lastUploadSerial;
  uint64_t lastUploadHash;
  Matrix3x4 currentPalette[math::kMaxPaletteJoints];
  // Of the previous palette only what the blend reads of it: the translations
  // (paletteTranslations) and rotations (paletteRotations) of its first
  // `joints` entries. The current palette's rotations are written with it.
  // Whenever hasReference is set, these are those of exactly these palettes.
  math::PaletteTranslations previousTranslations;
  math::PaletteRotations previousRotations;
  math::PaletteRotations currentRotations;
};

// Keyed by (model, asset).
struct OwnerlessTrack : SkinnedHistory {
  double sampleTime;
  uint32_t firstNonRigidJoint;  // kNoNonRigidJoint when the palette is rigid
  int8_t pending;
};

// Zero storage is a valid empty table, so both tables live in .bss and cost
// nothing at load. `nonRigidJoint` reads 0xFFFFFFFF in every slot that holds a
// model: a slot's fields are read only while `model` is set, and the slot is
// always initialised (with kNoNonRigidJoint) before `model` is set.
static_assert(std::is_trivially_default_constructible_v<SkeletalTrack>);
static_assert(std::is_trivially_default_constructible_v<OwnerlessTrack>);

extern SkeletalTrack skeletalTracks[kSkeletalTrackSlots];
extern OwnerlessTrack ownerlessTracks[kOwnerlessTrackSlots];
extern std::atomic<uint64_t> skeletalTrackIds;  // 1 at load; ids are never reused
extern SlimLock skeletalTableLock;

// The slot sequence of both tables starts at this hash of the two key halves.
uint64_t skeletalSlotHash(const void* model, const void* secondKey);

// The track of (model, ownerKey), or with `create` a new one in the first empty
// or stale slot of its probe sequence; null when absent or the table is full.
SkeletalTrack* findSkeletalTrack(const void* model, const void* ownerKey, uint64_t serial, bool create);
OwnerlessTrack* findOwnerlessTrack(const void* model, const void* asset, uint64_t serial, bool create);

// True when a track no longer describes the record it is keyed by: its scope
// changed after a sample, or a stored nonzero asset, palette or joint count differs.
bool skeletalTrackOutdated(const SkeletalTrack& track, bool firstPerson, bool cinematic, const void* asset,
                           const void* palette, uint32_t joints, uint32_t padded);
// Starts the track over in place: everything cleared, a new id, the key kept.
void restartSkeletalTrack(SkeletalTrack& track, uint64_t serial);

// Stores the index and rigidity figures of a joint that failed the rigidity test.
void recordNonRigidJoint(const Matrix3x4& joint, SkeletalTrack& track, uint32_t index);

// Samples a skinned model that cannot be interpolated. Takes the lock itself.
void recordOwnerlessSample(const void* model, const void* asset, const Matrix3x4* palette, uint32_t joints,
                           uint32_t padded, int8_t pending, const PresentationFrame& frame);

}  // namespace corvane::skeletal
