// PoseUploadHook against hostile skinned records: any class, depth, joint and
// padded counts, palette, asset and owner pointers (into inaccessible pages,
// reserved or unmapped space), palettes with hostile numbers, a host upload
// that accepts or declines, switches and frames from the fuzzer. After the call
// the record is byte for byte what it was; during the upload the palette field
// points either at the host's palette or at a complete substitute.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "fuzz/fuzz_host.h"
#include "math/blend.h"
#include "patch/hooks.h"

using namespace corvane::bootstrap;
using namespace corvane::patch;

namespace {

constexpr size_t kRecordSlots = 4;
constexpr size_t kRecordStride = 0x3000;
constexpr size_t kRecordPages = kRecordSlots * kRecordStride / kPageSize;
constexpr size_t kPaletteStride = kMaxPaletteJoints * sizeof(Matrix3x4) + kPageSize;  // 13 pages
constexpr size_t kPaletteFirstPage = kRecordPages;
constexpr size_t kPalettePages = kRecordSlots * kPaletteStride / kPageSize;
constexpr size_t kAssetPage = kPaletteFirstPage + kPalettePages;

struct Expected {
  uint8_t* record;
  uint64_t value;
  const void* hostPalette;
  uint32_t padded;
  uint8_t acceptMask;  // bit n: the host's n-th call of this hook call accepts
  int calls;
};
Expected expected;

[[noreturn]] void fail(const char* message) {
  std::fprintf(stderr, "PoseUploadHook: %s\n", message);
  std::abort();
}

uint64_t CORVANE_HOSTCALL hostPoseUpload(uint8_t* record, uint64_t value) {
  const int call = expected.calls++;
  if (record != expected.record || value != expected.value) fail("host called with other arguments");
  if (call > 1) fail("host called more than twice");
  // Only a substituted call can be checked further: a pass-through hands the
  // host whatever the caller had.
  const void* palette = readField<const void*>(record, kModelPaletteOffset);
  if (palette != expected.hostPalette) {
    // The substitute must hold the padded entries the host reads.
    const auto* entries = static_cast<const Matrix3x4*>(palette);
    volatile float sink = 0.0f;
    for (uint32_t j = 0; j < expected.padded; ++j) sink = sink + entries[j].m[0];
    (void)sink;
  }
  return ((expected.acceptMask >> call) & 1) ? value + 1 : 0;
}

Matrix3x4 lastPalette[kRecordSlots][kMaxPaletteJoints];

void buildPalette(FuzzInput& in, Matrix3x4* palette, size_t slot, uint32_t count) {
  const uint8_t mode = in.byte();
  for (uint32_t j = 0; j < count; ++j) {
    Matrix3x4& m = lastPalette[slot][j];
    if (mode < 100) {
      // small motion of the last pose
      m.m[3] += static_cast<int8_t>(in.byte()) / 512.0f;
    } else if (mode < 200 || j < 4) {
      m = fuzzMatrix3x4(in);
    }
    palette[j] = m;
  }
}

void oneCall(FuzzInput& in) {
  const size_t slot = in.byte() % kRecordSlots;
  uint8_t* record = arena() + slot * kRecordStride + (in.byte() % 64);
  const uint8_t classMode = in.byte();
  const void* identity = classMode < 200   ? hostAddress(kSkinnedModelClassRva)
                         : classMode < 230 ? hostAddress(kStaticModelClassRva)
                                           : reinterpret_cast<const void*>(in.u64());
  writeField(record, 0, identity);

  const uint8_t depthMode = in.byte();
  const float depth = depthMode < 90 ? 0.0f : depthMode < 180 ? 2.0f : fuzzFloat(in);
  writeField(record, kModelDepthValueOffset, depth);

  const uint8_t jointMode = in.byte();
  uint32_t joints = 1 + in.byte() % 80;
  uint32_t padded = (joints + 7) & ~7u;
  if (jointMode >= 220) {
    joints = in.u32();
    padded = in.u32();
  } else if (jointMode >= 200) {
    joints = kMaxPaletteJoints - (jointMode & 1);
    padded = kMaxPaletteJoints;
  }
  writeField(record, kModelJointsOffset, joints);
  writeField(record, kModelPaddedJointsOffset, padded);

  auto* palette = reinterpret_cast<Matrix3x4*>(arena() + (kPaletteFirstPage * kPageSize) + slot * kPaletteStride +
                                               (in.byte() % 4) * 16);
  const uint32_t built =
      (padded & kPaddedJointsMask) < kMaxPaletteJoints ? (padded & kPaddedJointsMask) : kMaxPaletteJoints;
  buildPalette(in, palette, slot, built);
  const void* paletteField = fuzzPointer(in, palette);
  writeField(record, kModelPaletteOffset, paletteField);

  uint8_t* asset = arena() + kAssetPage * kPageSize + slot * 16;
  writeField(record, kModelAssetOffset, fuzzPointer(in, asset));
  const uint8_t ownerMode = in.byte();
  const void* owner = ownerMode < 100   ? static_cast<const void*>(asset + 8 + slot * 64)
                      : ownerMode < 180 ? nullptr
                                        : fuzzPointer(in, nullptr);
  writeField(record, kModelOwnerOffset, owner);
  writeField<int8_t>(record, kModelUploadPendingOffset, static_cast<int8_t>(in.byte() % 3));
  writeField<uint8_t>(record, kModelPaletteFlagsOffset, in.byte());

  uint8_t* handed = static_cast<uint8_t*>(const_cast<void*>(fuzzPointer(in, record)));
  protectSomeArenaPages(in, 0, kAssetPage + 1);
  // The host's upload reads its record; a caller never hands it one it cannot read.
  const bool handedReadable = handed == record && arenaRangeReadable(record, kSkinnedModelRecordLength);
  if (!handedReadable) {
    unprotectArena();
    return;
  }
  expected = Expected{record, in.u64() >> 1, paletteField, padded & kPaddedJointsMask, in.byte(), 0};
  if (expected.padded > kMaxPaletteJoints) expected.padded = 0;
  takeSnapshot();
  // The palette field, pending byte and flags change during the upload only.
  const uint64_t result = PoseUploadHook(record, expected.value);
  if (expected.calls < 1) fail("host function not called");
  const bool accepted = result != 0;
  if (accepted && result != expected.value + 1) fail("result is not the host's");
  if (!accepted && ((expected.acceptMask >> (expected.calls - 1)) & 1)) fail("accepted upload reported as refused");
  checkUnchanged("PoseUploadHook");
  unprotectArena();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = startFuzzInput(data, size, kAssetPage + 1);
  poseUploadTrampoline.store(hostPoseUpload);
  poseUploadInstalled.store((in.byte() & 15) == 0 ? nullptr : reinterpret_cast<void*>(hostPoseUpload));
  framesAndCalls(in, 16, oneCall);
  return 0;
}
