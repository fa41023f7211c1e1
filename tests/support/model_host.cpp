#include "tests/support/model_host.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "patch/hooks.h"
#include "patch/readable.h"

using namespace corvane::bootstrap;
using namespace corvane::patch;

namespace {

constexpr size_t kImageSize = 0x3C00000;
constexpr size_t kArenaSize = 512ull << 20;
constexpr double kPi = 3.14159265358979323846;

uint8_t* arena = nullptr;
std::atomic<size_t> arenaUsed{0};
std::atomic<uintptr_t> nextOwnerAddress{0x7000000000};

uint64_t CORVANE_HOSTCALL recordingGpuCopy(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  const uint64_t n = gpuCopyCalls.fetch_add(1) + 1;
  GpuCopyCall& call = lastGpuCopyCall();
  call.outSlot = outSlot;
  call.value = value;
  call.f = f;
  call.block = block;
  call.blockMarker = 0;
  call.record = nullptr;
  call.recordBytes.clear();
  if (block != nullptr && isReadableRange(block, 16)) {
    std::memcpy(&call.blockMarker, block, 8);
    std::memcpy(&call.record, block + 8, 8);
    if (call.record != nullptr && isReadableRange(call.record, kModelRecordLength)) {
      const void* identity;
      std::memcpy(&identity, call.record, 8);
      const size_t length = identity == testSkinnedModelClass() ? kSkinnedModelRecordLength : kModelRecordLength;
      call.recordBytes.assign(kSkinnedModelRecordLength, 0);
      if (isReadableRange(call.record, length)) std::memcpy(call.recordBytes.data(), call.record, length);
    }
  }
  // The host hands back the record it was given.
  if (outSlot != nullptr) *outSlot = const_cast<uint8_t*>(call.record);
  return gpuCopyResultFor(n);
}

void recordShadowBuild(int which, uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, uint64_t a6) {
  shadowBuildCalls.fetch_add(1);
  ShadowBuildCall& call = lastShadowBuildCall();
  call.which = which;
  call.list = list;
  const uint64_t args[6] = {a1, a2, reinterpret_cast<uintptr_t>(list), a4, a5, a6};
  std::memcpy(call.args, args, sizeof args);
  call.header[0] = call.header[1] = 0;
  call.entries.clear();
  call.transforms.clear();
  if (list != nullptr && isReadableRange(list, 16)) {
    std::memcpy(call.header, list, 16);
    const size_t n = call.header[1] & 0xFFFFFF;
    const uint8_t* entries = reinterpret_cast<const uint8_t*>(call.header[0]);
    if (n != 0 && isReadableRange(entries, n * 48)) {
      call.entries.assign(entries, entries + n * 48);
      call.transforms.assign(n, Matrix4x4{});
      for (size_t i = 0; i < n; ++i) {
        const Matrix4x4* transform;
        std::memcpy(&transform, entries + i * 48 + 8, 8);
        if (transform != nullptr && isReadableRange(transform, 64)) call.transforms[i] = *transform;
      }
    }
  }
  if (shadowBuildInner != nullptr) shadowBuildInner();
}

uint64_t CORVANE_HOSTCALL recordingShadowBuild0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                                float a6) {
  uint32_t bits;
  std::memcpy(&bits, &a6, 4);
  recordShadowBuild(0, a1, a2, list, a4, a5, bits);
  return kShadowBuildResult;
}

uint64_t CORVANE_HOSTCALL recordingShadowBuild1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                                float a6, int32_t a7, uint64_t a8) {
  uint32_t bits;
  std::memcpy(&bits, &a6, 4);
  recordShadowBuild(1, a1, a2, list, a4, a5, bits ^ (static_cast<uint64_t>(static_cast<uint32_t>(a7)) << 32));
  return kShadowBuildResult + a8;
}

Matrix4x4 fromRows(const double (&rows)[16]) {
  Matrix4x4 m;
  for (int i = 0; i < 16; ++i) m.m[i] = static_cast<float>(rows[i]);
  return m;
}

}  // namespace

std::atomic<uint64_t> gpuCopyCalls{0};
std::atomic<uint64_t> shadowBuildCalls{0};
thread_local void (*shadowBuildInner)() = nullptr;

GpuCopyCall& lastGpuCopyCall() {
  static thread_local GpuCopyCall call;
  return call;
}

ShadowBuildCall& lastShadowBuildCall() {
  static thread_local ShadowBuildCall call;
  return call;
}

uint64_t gpuCopyResultFor(uint64_t callNumber) { return 0xC0DE0000 + callNumber; }

void useModelHost() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* image = mmap(nullptr, kImageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    void* space = mmap(nullptr, kArenaSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (image == MAP_FAILED || space == MAP_FAILED) std::abort();
    hostBase = static_cast<uint8_t*>(image);
    arena = static_cast<uint8_t*>(space);
  });
  gpuCopyTrampoline.store(recordingGpuCopy);
  gpuCopyInstalled.store(reinterpret_cast<void*>(recordingGpuCopy));
  shadowTrampolines[0].store(reinterpret_cast<void*>(recordingShadowBuild0));
  shadowTrampolines[1].store(reinterpret_cast<void*>(recordingShadowBuild1));
}

uint8_t* allocateHostBytes(size_t size) {
  const size_t rounded = (size + 63) & ~size_t{63};
  const size_t offset = arenaUsed.fetch_add(rounded);
  if (offset + rounded > kArenaSize) std::abort();
  return arena + offset;
}

uint8_t* allocateBytesBeforeNoAccess(size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t pages = (size + page - 1) / page;
  auto* base = static_cast<uint8_t*>(
      mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED || mprotect(base + pages * page, page, PROT_NONE) != 0) std::abort();
  return base + pages * page - size;
}

const void* testStaticModelClass() { return hostBase + kStaticModelClassRva; }
const void* testSkinnedModelClass() { return hostBase + kSkinnedModelClassRva; }

Matrix4x4 placementMatrix(const Placement& p) {
  const double c = std::cos(p.yawDegrees * kPi / 180.0) * p.scale;
  const double s = std::sin(p.yawDegrees * kPi / 180.0) * p.scale;
  const double flip = p.mirrored ? -1.0 : 1.0;
  // 0.0 - s keeps a zero sine positive.
  const double rows[16] = {c * flip, 0.0 - s, 0, p.x, s * flip, c, 0, p.y, 0, 0, p.scale, p.z, 0, 0, 0, 1};
  return fromRows(rows);
}

Matrix4x4 placementInverse(const Placement& p) {
  // (T R S D)^-1 = D R^T / s, translation -(D R^T / s) t.
  const double c = std::cos(p.yawDegrees * kPi / 180.0) / p.scale;
  const double s = std::sin(p.yawDegrees * kPi / 180.0) / p.scale;
  const double flip = p.mirrored ? -1.0 : 1.0;
  const double r[9] = {c * flip, s * flip, 0, 0.0 - s, c, 0, 0, 0, 1.0 / p.scale};
  const double t[3] = {-(r[0] * p.x + r[1] * p.y + r[2] * p.z), -(r[3] * p.x + r[4] * p.y + r[5] * p.z),
                       -(r[6] * p.x + r[7] * p.y + r[8] * p.z)};
  const double rows[16] = {r[0], r[1], r[2], t[0], r[3], r[4], r[5], t[1], r[6], r[7], r[8], t[2], 0, 0, 0, 1};
  return fromRows(rows);
}

Matrix4x4 identityMatrix() { return placementMatrix(Placement{}); }

Matrix4x4 product(const Matrix4x4& a, const Matrix4x4& b) {
  Matrix4x4 out;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += static_cast<double>(a.m[r * 4 + k]) * b.m[k * 4 + c];
      out.m[r * 4 + c] = static_cast<float>(sum);
    }
  }
  return out;
}

float maxDifference(const Matrix4x4& a, const Matrix4x4& b) {
  float worst = 0;
  for (int i = 0; i < 16; ++i) worst = std::fmax(worst, std::fabs(a.m[i] - b.m[i]));
  return worst;
}

uint8_t* newStaticRecord() {
  uint8_t* record = allocateHostBytes(kModelRecordLength);
  const void* identity = testStaticModelClass();
  std::memcpy(record, &identity, 8);
  setOwner(record, newOwner());
  return record;
}

uint8_t* newSkinnedRecord(uint32_t joints, uint32_t padded, const void* owner) {
  uint8_t* record = allocateHostBytes(kSkinnedModelRecordLength);
  const void* identity = testSkinnedModelClass();
  std::memcpy(record, &identity, 8);
  const void* asset = allocateHostBytes(64);
  std::memcpy(record + kModelAssetOffset, &asset, 8);
  std::memcpy(record + kModelJointsOffset, &joints, 4);
  std::memcpy(record + kModelPaddedJointsOffset, &padded, 4);
  setOwner(record, owner);
  return record;
}

void writeMatrix(uint8_t* record, uint64_t offset, const Matrix4x4& m) { std::memcpy(record + offset, &m, 64); }

Matrix4x4 readMatrix(const uint8_t* record, uint64_t offset) {
  Matrix4x4 m;
  std::memcpy(&m, record + offset, 64);
  return m;
}

Matrix4x4 derivedFactor1() { return placementMatrix({30.0, 2.0, -1.0, 0.5}); }
Matrix4x4 derivedFactor2() { return placementMatrix({-45.0, 0.0, 3.0, 1.0}); }

void setWorldMatrices(uint8_t* record, const Placement& current, const Placement& previous) {
  const Matrix4x4 a = placementMatrix(current);
  const Matrix4x4 b = placementMatrix(previous);
  writeMatrix(record, kModelCurrentWorldOffset, a);
  writeMatrix(record, kModelPreviousWorldOffset, b);
  writeMatrix(record, kModelCurrentInverseOffset, placementInverse(current));
  writeMatrix(record, kModelPreviousInverseOffset, placementInverse(previous));
  writeMatrix(record, kModelCurrentDerived1Offset, product(derivedFactor1(), a));
  writeMatrix(record, kModelPreviousDerived1Offset, product(derivedFactor1(), b));
  writeMatrix(record, kModelCurrentDerived2Offset, product(derivedFactor2(), a));
  writeMatrix(record, kModelPreviousDerived2Offset, product(derivedFactor2(), b));
}

void setDepth(uint8_t* record, float depth) { std::memcpy(record + kModelDepthValueOffset, &depth, 4); }
void setOwner(uint8_t* record, const void* owner) { std::memcpy(record + kModelOwnerOffset, &owner, 8); }
const void* newOwner() { return reinterpret_cast<const void*>(nextOwnerAddress.fetch_add(0x40)); }

uint8_t* newModelRefBlock(const uint8_t* record) {
  uint8_t* block = allocateHostBytes(16);
  std::memcpy(block, &kBlockMarker, 8);
  std::memcpy(block + 8, &record, 8);
  return block;
}

void resetTestSettings() { std::memset(&settings, 0, sizeof settings); }
