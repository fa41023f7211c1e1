#include "skeletal/pose_upload_hook.h"

#include <atomic>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "math/blend.h"
#include "platform/locks.h"
#include "skeletal/palette_interpolation.h"

namespace corvane::skeletal {

using bootstrap::claimOnce;
using bootstrap::kModelPaletteFlagsOffset;
using bootstrap::kModelPaletteOffset;
using bootstrap::kModelUploadPendingOffset;
using bootstrap::LogMessage;
using bootstrap::readField;
using bootstrap::settings;
using bootstrap::writeField;
using diagnostics::bump;
using diagnostics::counters;
using math::kMaxPaletteJoints;
using math::Matrix3x4;
using os::ExclusiveGuard;
using os::SlimLock;
using patch::PoseUploadFunction;
using patch::poseUploadInstalled;
using patch::poseUploadTrampoline;

std::atomic<uint32_t> firstPersonApplied{0};
std::atomic<uint32_t> worldApplied{0};  // shared by world and cinematic skeletons

namespace {

void countForced(const PaletteUpload& upload) {
  diagnostics::SkeletalCounters& c = counters.skeletal;
  bump(c.uploadForced);
  bump(upload.firstPerson ? c.scopeForcedFirstPerson : c.scopeForcedWorld);
  if (upload.cinematic) bump(c.cinematicForced);
}

void logAppliedOnce(const PaletteUpload& upload) {
  if (upload.firstPerson) {
    if (claimOnce(firstPersonApplied))
      LogMessage(
          "Applied experimental first-person skeletal interpolation at the renderer palette-upload boundary; the "
          "hand-root correction remains independent.");
  } else if (claimOnce(worldApplied)) {
    LogMessage("Applied experimental %s skeletal interpolation at the renderer palette-upload boundary.",
               upload.cinematic ? "cinematic" : "world");
  }
}

// Records whose palette pointer a call has substituted and not yet restored.
// A second call for the same record, from another thread, must not save the
// first call's substitute as the host's pointer: it passes through. So does a
// call that finds every entry taken (that many uploads at once).
constexpr uint32_t kSubstitutingCapacity = 64;
const uint8_t* substituting[kSubstitutingCapacity];
SlimLock substitutingLock;

bool claimRecord(const uint8_t* record) {
  ExclusiveGuard guard(substitutingLock);
  const uint8_t** free = nullptr;
  for (const uint8_t*& entry : substituting) {
    if (entry == record) return false;
    if (entry == nullptr && free == nullptr) free = &entry;
  }
  if (free == nullptr) return false;
  *free = record;
  return true;
}

void releaseRecord(const uint8_t* record) {
  ExclusiveGuard guard(substitutingLock);
  for (const uint8_t*& entry : substituting) {
    if (entry == record) entry = nullptr;
  }
}

// Substitutes the blended palette for the duration of the host's call (and its
// forced retry); the record gets the host's own values back on every path.
uint64_t substitutedUpload(PoseUploadFunction host, uint8_t* record, uint64_t value, const Matrix3x4* palette,
                           bool* forced) {
  const int8_t savedPending = readField<int8_t>(record, kModelUploadPendingOffset);
  const void* savedPalette = readField<const void*>(record, kModelPaletteOffset);
  const uint8_t savedFlags = readField<uint8_t>(record, kModelPaletteFlagsOffset);
  writeField<const void*>(record, kModelPaletteOffset, palette);

  uint64_t result = host(record, value);
  *forced = false;
  if (result == 0) {
    writeField<int8_t>(record, kModelUploadPendingOffset, 1);
    writeField<uint8_t>(record, kModelPaletteFlagsOffset, savedFlags & kForcedRetryFlagMask);
    result = host(record, value);
    writeField<uint8_t>(record, kModelPaletteFlagsOffset, savedFlags);
    writeField<int8_t>(record, kModelUploadPendingOffset, savedPending);
    *forced = result != 0;
  }
  writeField<const void*>(record, kModelPaletteOffset, savedPalette);
  return result;
}

}  // namespace

}  // namespace corvane::skeletal

using namespace corvane::skeletal;

uint64_t CORVANE_HOSTCALL PoseUploadHook(uint8_t* record, uint64_t value) {
  Matrix3x4 presentationPalette[kMaxPaletteJoints];
  std::memset(presentationPalette, 0, sizeof presentationPalette);
  PaletteUpload upload;
  std::memset(&upload, 0, sizeof upload);
  const PoseUploadFunction host = poseUploadTrampoline.load(std::memory_order_acquire);

  const bool anySwitch = settings.firstPersonSkeletons || settings.worldSkeletons || settings.cinematicSkeletons;
  if (!anySwitch || poseUploadInstalled.load(std::memory_order_acquire) == nullptr) return host(record, value);
  if (!preparePalette(record, presentationPalette, &upload)) return host(record, value);
  if (!claimRecord(record)) return host(record, value);
  bool forced = false;
  const uint64_t result = substitutedUpload(host, record, value, presentationPalette, &forced);
  releaseRecord(record);

  if (result == 0) {
    bump(counters.skeletal.uploadSkipped);
    bump(counters.skeletal.uploadForceFailed);
    return 0;
  }
  recordUpload(upload);
  if (forced) countForced(upload);
  logAppliedOnce(upload);
  return result;
}
