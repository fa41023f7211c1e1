// Model records of the stand-in game: renderer records of the static class
// (0x1CD0 bytes) and the skinned class (0x2130 bytes) at fixed places of the
// image, whose world matrices follow closed-form paths of the simulation time,
// and a GPU-copy behaviour that keeps, per model, the record it was handed.
//
// A scene is a list of SceneModel (kStandardSceneModels by default). For each
// simulation tick the scene writes every record as the game would: the
// current slot group (world W, inverse V = W^-1, derived D1 = M1*W and
// D2 = M2*W with fixed rigid M1, M2) from the model's path, and the previous
// slot group as the current one was on the last presented frame.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/support/reference.h"

// How a model's world matrix moves with the simulation time.
enum class ModelPath : uint8_t {
  kRest,        // stands still
  kLine,        // constant velocity, constant heading
  kArc,         // around a circle, facing along it
  kDoor,        // swings about a hinge, the panel offset from it
  kMirrored,    // moves and turns with its x axis reflected
  kScaled,      // moves with a uniform scale of 1.5
  kStretched,   // moves with a non-uniform scale (not rigid: never interpolated)
  kTeleport,    // a line that jumps 100 units at kTeleportTick
  kMirrorFlip,  // a line whose x axis is reflected from kMirrorFlipTick on
};
constexpr uint64_t kTeleportTick = 80;
constexpr uint64_t kMirrorFlipTick = 100;

enum class ModelOwner : uint8_t { kReadable, kNone, kUnreadable };

struct SceneModel {
  ModelPath path;
  bool skinned;  // skinned class; the palette fields below apply
  float depth;   // 0 for world models, inside (0, 100) for first person
  ModelOwner owner;
  uint32_t joints;        // skinned: 1 to 256; padded to a multiple of 8
  uint32_t declineEvery;  // skinned: every n-th frame nothing is pending (0: never)
};

// Static models on every path, and skinned characters of 1, 30, 64 and 256
// joints: world with owners, cinematic (no owner, 64 joints), first person
// with a readable and an unreadable owner, and one world-depth character with
// an unreadable owner and 256 joints (neither followed nor cinematic).
extern const SceneModel kStandardSceneModels[];
extern const size_t kStandardSceneModelCount;

struct ModelScene {
  const SceneModel* models = kStandardSceneModels;
  size_t count = kStandardSceneModelCount;
  uint32_t rendererThreads = 2;  // threads that make the renderer's calls (1 or 2)
};

// Where the scene lives in the image (a range no host address uses).
constexpr uint64_t kStandInModelsRva = 0x1400000;
constexpr uint64_t kStandInModelStride = 0x4000;
constexpr size_t kMostSceneModels = 32;
constexpr uint64_t kStandInOwnersRva = 0x1480000;  // owners and assets, 64 bytes each

// Host layout the scene writes (the stand-in's own copy of it).
constexpr uint64_t kStandInStaticClassRva = 0x1E55208;
constexpr uint64_t kStandInSkinnedClassRva = 0x1E55008;
constexpr size_t kStandInStaticLength = 0x1CD0;
constexpr size_t kStandInSkinnedLength = 0x2130;
constexpr size_t kStandInCurrentSlots[4] = {0x020, 0x0A0, 0x120, 0x1A0};
constexpr size_t kStandInPreviousSlots[4] = {0x060, 0x0E0, 0x160, 0x1E0};
constexpr size_t kStandInDepthOffset = 0x18B8;
constexpr size_t kStandInOwnerOffset = 0x1C50;
// An owner address whose page is never mapped.
constexpr uint64_t kUnreadableOwner = 0x40;
// Skinned records: joint count, asset pointer, padded joint count (low 24 bits).
constexpr size_t kStandInJointsOffset = 0x1FE0;
constexpr size_t kStandInAssetOffset = 0x1FE8;
constexpr size_t kStandInPaddedOffset = 0x2000;

// One record's fixed fields, wherever the record lives: class identity, host
// bytes outside the slot groups (from `salt`, so records differ), depth,
// owner and, for a skinned model, joint counts and asset. `owner` and `asset`
// are used as given (the caller chooses readable, null or unreadable ones).
void writeModelFields(uint8_t* record, const SceneModel& model, size_t salt, const uint8_t* owner,
                      const uint8_t* asset);
// The slot groups as the game leaves them for a new tick: the previous group
// takes the current group's bytes (with `first`, the new ones), the current
// group W, W^-1, M1*W and M2*W.
void writeModelSlots(uint8_t* record, const WideMatrix& world, bool first);

uint8_t* sceneRecord(size_t model);
size_t sceneRecordLength(const SceneModel& model);
// The model whose record this is, or kMostSceneModels.
size_t sceneModelOf(const void* record);

// The world matrix of a path at simulation time `seconds` (since the scene
// started) and `tick`.
WideMatrix pathMatrix(ModelPath path, size_t model, long double seconds, uint64_t tick);
// The fixed left factors of the derived matrices.
WideMatrix derivedFactor(int which);

// Clears the records and writes their fixed fields (class, depth, owner).
void startModels(const ModelScene& scene);
// The records as the game leaves them for a frame showing `tick`: the
// previous group takes the current group's bytes (on the first frame, the
// new ones), the current group the path's matrices at the tick.
void writeModelsForFrame(const ModelScene& scene, uint64_t tick, uint32_t simulationHz);

// What the stand-in GPU copy received for one model on the latest frame.
struct ReceivedCopy {
  uint32_t calls;
  const uint8_t* record;  // the record the block named (the host's or a copy)
  uint8_t bytes[kStandInSkinnedLength];
};
ReceivedCopy& receivedCopy(size_t model);
// Block bytes 0-7 the scene hands the GPU copy: this marker plus the model.
constexpr uint64_t kSceneBlockMarker = 0xB10C000000000000ull;
// The stand-in's result for a model's call.
constexpr uint64_t kSceneGpuCopyResult = 0x6C0B00;
// Records each GPU copy into its model's ReceivedCopy (set as the host's behaviour).
uint64_t sceneGpuCopy(const struct GpuCopyCall& call);
