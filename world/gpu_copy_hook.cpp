// The renderer's per-model GPU-parameter copy: first-person models get the
// camera's correction, world and cinematic models the world pass's, always in a
// private copy of the record; the host's record is only read.
#include <xmmintrin.h>

#include <atomic>
#include <cstring>

#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "math/types.h"
#include "patch/hooks.h"
#include "patch/readable.h"
#include "shadow/publication.h"
#include "world/content_key.h"
#include "world/gpu_copy_hook.h"
#include "world/model_record.h"
#include "world/rewrite.h"
#include "world/world_pass.h"
#include "world/world_tracks.h"

namespace corvane::world {

using bootstrap::claimOnce;
using bootstrap::kModelCurrentWorldOffset;
using bootstrap::kModelDepthValueOffset;
using bootstrap::kModelOwnerOffset;
using bootstrap::kModelRecordLength;
using bootstrap::LogMessage;
using bootstrap::readField;
using bootstrap::settings;
using camera::CameraCorrection;
using camera::copyCameraCorrection;
using camera::copyPresentationFrame;
using diagnostics::bump;
using diagnostics::counters;
using patch::gpuCopyInstalled;
using patch::gpuCopyTrampoline;
using patch::isReadableRange;
using shadow::publishShadowCorrection;

std::atomic<uint32_t> firstPersonLogged{0};
std::atomic<uint32_t> worldLogged{0};

namespace {

uint64_t passThrough(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  return gpuCopyTrampoline.load(std::memory_order_acquire)(outSlot, value, f, block);
}

// Hands the host the copy in place of its record, then points the out-slot back
// at the host's record.
uint64_t substitutedCall(void** outSlot, uint64_t value, float f, const uint8_t* block, const uint8_t* record,
                         const uint8_t* recordCopy) {
  alignas(16) uint8_t substitute[kModelRefBlockSize];
  std::memcpy(substitute, block, kModelRefRecordOffset);
  std::memcpy(substitute + kModelRefRecordOffset, &recordCopy, sizeof recordCopy);
  const uint64_t result = gpuCopyTrampoline.load(std::memory_order_acquire)(outSlot, value, f, substitute);
  if (outSlot != nullptr) *outSlot = const_cast<uint8_t*>(record);
  return result;
}

// The record's bytes, and zeros up to the room of the longest record.
void copyRecord(uint8_t* recordCopy, const uint8_t* record, uint64_t length) {
  std::memcpy(recordCopy, record, length);
  std::memset(recordCopy + length, 0, kRecordCopyCapacity - length);
}

// Starts bringing in the record's lines every call reads (its class, world
// matrices, depth and owner) while its probe runs: a prefetch never faults,
// whatever the address holds.
// The addresses are worked out as integers: the record may be null or near
// the top of the address space.
void prefetchRecord(const uint8_t* record) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(record);
  for (uint64_t offset : {uint64_t{0}, uint64_t{64}, uint64_t{128}, kModelDepthValueOffset, kModelOwnerOffset}) {
    _mm_prefetch(reinterpret_cast<const char*>(base + offset), _MM_HINT_T0);
  }
}

bool isFirstPersonDepth(float depth) {
  return math::isFiniteFloat(depth) && depth > 0.0f && depth < kFirstPersonDepthLimit;
}

}  // namespace

}  // namespace corvane::world

using namespace corvane::world;

uint64_t CORVANE_HOSTCALL GpuCopyHook(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  const bool firstPerson = settings.stabilizeFirstPersonHands != 0;
  const bool world = settings.worldTransforms != 0 || settings.cinematicTransforms != 0;
  if ((!firstPerson && !world) || gpuCopyInstalled.load(std::memory_order_acquire) == nullptr) {
    return passThrough(outSlot, value, f, block);
  }
  ReadableRegionMemo probes;
  if (!isReadableRange(probes, block, kModelRefBlockSize)) {
    return passThrough(outSlot, value, f, block);
  }
  const uint8_t* record = readField<const uint8_t*>(block, kModelRefRecordOffset);
  prefetchRecord(record);
  if (!isReadableRange(probes, record, kModelRecordLength)) {
    return passThrough(outSlot, value, f, block);
  }
  if (world) prefetchWorldTrack(record, readField<const void*>(record, kModelOwnerOffset));
  const void* classIdentity = readField<const void*>(record, 0);
  const uint64_t length = modelRecordLength(classIdentity);
  if (!isReadableRange(probes, record, length)) {
    return passThrough(outSlot, value, f, block);
  }

  // Every decision reads the host's record; the copy is made only for a call
  // that substitutes it.
  alignas(16) uint8_t recordCopy[kRecordCopyCapacity];
  if (firstPerson && isFirstPersonDepth(readField<float>(record, kModelDepthValueOffset))) {
    const CameraCorrection correction = copyCameraCorrection();
    if (!correction.currentValid) return passThrough(outSlot, value, f, block);
    const Matrix4x4& previousForward =
        correction.previousValid ? correction.previousForward : correction.currentForward;
    const Matrix4x4& previousInverse =
        correction.previousValid ? correction.previousInverse : correction.currentInverse;
    copyRecord(recordCopy, record, length);
    if (!rewriteSlotGroup(recordCopy, kCurrentSlots, correction.currentForward, correction.currentInverse) ||
        !rewriteSlotGroup(recordCopy, kPreviousSlots, previousForward, previousInverse)) {
      return passThrough(outSlot, value, f, block);
    }
    const uint64_t result = substitutedCall(outSlot, value, f, block, record, recordCopy);
    if (claimOnce(firstPersonLogged)) {
      LogMessage("Applied first-person correction at the renderer GPU-parameter boundary (camera serial %llu).",
                 static_cast<unsigned long long>(correction.cameraSerial));
    }
    return result;
  }

  if (!world) return passThrough(outSlot, value, f, block);
  WorldCorrection correction;
  std::memset(&correction, 0, sizeof correction);
  const PresentationFrame frame = copyPresentationFrame();
  if (!frame.timesValid || frame.presentationSerial == 0) return passThrough(outSlot, value, f, block);
  const bool publish = settings.shadowTransforms != 0;
  MatrixKey known{};
  if (!prepareWorldCorrection(probes, record, frame, &correction, publish ? &known : nullptr)) {
    return passThrough(outSlot, value, f, block);
  }
  copyRecord(recordCopy, record, length);
  if (!rewriteSlotGroup(recordCopy, kCurrentSlots, correction.currentForward, correction.currentInverse) ||
      !rewriteSlotGroup(recordCopy, kPreviousSlots, correction.previousForward, correction.previousInverse)) {
    return passThrough(outSlot, value, f, block);
  }
  if (publish && correction.presentationSerial != 0) {
    // The key is the host's own current world matrix, as it is now.
    const uint8_t* keyPointer = record + kModelCurrentWorldOffset;
    const Matrix4x4 now = readField<Matrix4x4>(record, kModelCurrentWorldOffset);
    const uint64_t key = std::memcmp(&now, &known.matrix, sizeof now) == 0 ? known.key : contentKey(now);
    publishShadowCorrection(keyPointer, key, correction.currentForward, correction.presentationSerial);
  }
  const uint64_t result = substitutedCall(outSlot, value, f, block, record, recordCopy);
  bump(counters.world.adjusted);
  if (classIdentity == skinnedModelClass()) bump(counters.world.adjustedSkinned);
  if (claimOnce(worldLogged)) {
    LogMessage(
        "Applied experimental world-transform interpolation at the renderer GPU-parameter boundary (presentation "
        "serial %llu).",
        static_cast<unsigned long long>(correction.presentationSerial));
  }
  return result;
}
