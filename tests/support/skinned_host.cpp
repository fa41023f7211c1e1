#include "tests/support/skinned_host.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"
#include "tests/support/reference.h"

using namespace corvane::bootstrap;
using namespace corvane::patch;

namespace {

constexpr size_t kHostImageSize = 0x3C00000;
constexpr size_t kArenaSize = size_t{64} << 20;

std::mutex arenaMutex;
uint8_t* arena = nullptr;
size_t arenaUsed = 0;
uint8_t* noAccessPage = nullptr;
thread_local UploadLog threadUploadLog;

uint64_t hostUpload(uint8_t* record, uint64_t value, UploadLog* log) {
  const int8_t pending = readField<int8_t>(record, kModelUploadPendingOffset);
  const uint8_t flags = readField<uint8_t>(record, kModelPaletteFlagsOffset);
  const auto* palette = readField<const Matrix3x4*>(record, kModelPaletteOffset);
  if (log != nullptr) {
    if (log->calls < 2) {
      log->pendingSeen[log->calls] = pending;
      log->flagsSeen[log->calls] = flags;
      log->paletteSeen[log->calls] = palette;
    }
    log->calls += 1;
    log->valueSeen = value;
  }
  if ((log != nullptr && log->declineAll) || pending <= 0) return 0;
  uint32_t padded = readField<uint32_t>(record, kModelPaddedJointsOffset) & kPaddedJointsMask;
  if (padded > kHostPaletteCapacity) padded = kHostPaletteCapacity;
  if (log != nullptr) {
    log->accepted += 1;
    log->receivedCount = padded;
    std::memcpy(log->received, palette, size_t{padded} * sizeof(Matrix3x4));
  }
  writeField<int8_t>(record, kModelUploadPendingOffset, 0);
  writeField<uint8_t>(record, kModelPaletteFlagsOffset, flags | 0x02);
  return value + 1;
}

}  // namespace

void setUpSkinnedHost() {
  std::lock_guard<std::mutex> lock(arenaMutex);
  if (arena == nullptr) {
    void* image = mmap(nullptr, kHostImageSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    void* pool = mmap(nullptr, kArenaSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    void* closed = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (image == MAP_FAILED || pool == MAP_FAILED || closed == MAP_FAILED) std::abort();
    hostBase = static_cast<uint8_t*>(image);
    arena = static_cast<uint8_t*>(pool);
    noAccessPage = static_cast<uint8_t*>(closed);
  }
  poseUploadTrampoline.store(&recordingPoseUpload);
  poseUploadInstalled.store(reinterpret_cast<void*>(&recordingPoseUpload));
}

void* hostAllocate(size_t size, size_t alignment) {
  std::lock_guard<std::mutex> lock(arenaMutex);
  arenaUsed = (arenaUsed + alignment - 1) / alignment * alignment;
  if (arenaUsed + size > kArenaSize) std::abort();
  void* result = arena + arenaUsed;
  arenaUsed += size;
  return result;
}

const void* unreadableAddress() { return noAccessPage + 64; }

uint8_t* newSkinnedRecord(const SkinnedRecordShape& shape, Matrix3x4** paletteOut) {
  auto* record = static_cast<uint8_t*>(hostAllocate(kSkinnedModelRecordLength));
  auto* palette = static_cast<Matrix3x4*>(hostAllocate(kHostPaletteCapacity * sizeof(Matrix3x4)));
  for (uint32_t j = 0; j < kHostPaletteCapacity; ++j) palette[j] = rigidJoint(0, 0, 1, 0, j, 0, 0);
  writeField<const void*>(record, 0, hostBase + kSkinnedModelClassRva);
  writeField<float>(record, kModelDepthValueOffset, shape.depth);
  writeField<const void*>(record, kModelOwnerOffset, shape.owner ? shape.owner : hostAllocate(64));
  writeField<const void*>(record, kModelAssetOffset, shape.asset ? shape.asset : hostAllocate(64));
  writeField<uint8_t>(record, kModelPaletteFlagsOffset, shape.flags);
  writeField<int8_t>(record, kModelUploadPendingOffset, shape.pending);
  writeField<uint32_t>(record, kModelJointsOffset, shape.joints);
  writeField<const void*>(record, kModelPaletteOffset, palette);
  // High bits of the padded field belong to the host and are ignored.
  writeField<uint32_t>(record, kModelPaddedJointsOffset, shape.padded | 0x5A000000u);
  if (paletteOut != nullptr) *paletteOut = palette;
  return record;
}

void setRecordPalette(uint8_t* record, const Matrix3x4* palette) {
  writeField<const void*>(record, kModelPaletteOffset, palette);
}
Matrix3x4* recordPalette(uint8_t* record) { return readField<Matrix3x4*>(record, kModelPaletteOffset); }
int8_t recordPending(const uint8_t* record) { return readField<int8_t>(record, kModelUploadPendingOffset); }
uint8_t recordFlags(const uint8_t* record) { return readField<uint8_t>(record, kModelPaletteFlagsOffset); }
void setRecordPending(uint8_t* record, int8_t pending) {
  writeField<int8_t>(record, kModelUploadPendingOffset, pending);
}
void setRecordDepth(uint8_t* record, float depth) { writeField<float>(record, kModelDepthValueOffset, depth); }
void setRecordOwner(uint8_t* record, const void* owner) { writeField<const void*>(record, kModelOwnerOffset, owner); }

Matrix3x4 rigidJoint(double ax, double ay, double az, double degrees, double tx, double ty, double tz) {
  return ref::joint({{ax, ay, az}}, degrees, {{tx, ty, tz}});
}

UploadLog& uploadLog() { return threadUploadLog; }
void clearUploadLog() {
  const bool decline = threadUploadLog.declineAll;
  std::memset(&threadUploadLog, 0, sizeof threadUploadLog);
  threadUploadLog.declineAll = decline;
}

uint64_t CORVANE_HOSTCALL recordingPoseUpload(uint8_t* record, uint64_t value) {
  return hostUpload(record, value, &threadUploadLog);
}

uint64_t simulateHostUpload(uint8_t* record, uint64_t value) {
  if (threadUploadLog.declineAll) return 0;
  return hostUpload(record, value, nullptr);
}
