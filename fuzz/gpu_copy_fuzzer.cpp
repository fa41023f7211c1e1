// GpuCopyHook against hostile model records and blocks: any pointer, any class
// identity, records that run into inaccessible pages, matrices full of NaN,
// infinities and denormals, switches and frames from the fuzzer. The host's
// memory stays as it was except the out-slot; the host function is always
// called once with the caller's arguments or a faithful substitute.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "fuzz/fuzz_host.h"
#include "patch/hooks.h"
#include "world/model_record.h"

using namespace corvane::bootstrap;
using namespace corvane::patch;
using namespace corvane::world;

namespace {

constexpr size_t kRecordSlots = 4;
constexpr size_t kRecordStride = 0x3000;  // room for the skinned length and a shift
constexpr size_t kRecordPages = kRecordSlots * kRecordStride / kPageSize;
constexpr size_t kBlockPage = kRecordPages;  // blocks and out-slots after the records
constexpr size_t kOutSlotPage = kBlockPage + 1;
constexpr uint64_t kBlockMarker = 0xB10C0B10C0B10C00ull;

struct Expected {
  void** outSlot;
  uint64_t value;
  float f;
  const uint8_t* block;
  const uint8_t* record;  // the record named by a block that was substituted
  uint64_t calls;
};
Expected expected;

[[noreturn]] void fail(const char* message) {
  std::fprintf(stderr, "GpuCopyHook: %s\n", message);
  std::abort();
}

bool isSlotGroupByte(size_t offset) { return offset >= kModelCurrentWorldOffset && offset < 0x220; }

uint64_t CORVANE_HOSTCALL hostGpuCopy(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  ++expected.calls;
  if (outSlot != expected.outSlot || value != expected.value) fail("host called with other arguments");
  if (std::memcmp(&f, &expected.f, sizeof f) != 0) fail("host called with another float");
  if (block != expected.block) {
    // A substitute block: the caller's opaque bytes, then a private record copy
    // that differs from the host's record only in the matrix slots.
    if (!arenaRangeReadable(expected.block, kModelRefBlockSize)) fail("substituted a block that is not readable");
    if (std::memcmp(block, expected.block, kModelRefRecordOffset) != 0) fail("substitute lost the opaque bytes");
    const uint8_t* record;
    std::memcpy(&record, expected.block + kModelRefRecordOffset, sizeof record);
    expected.record = record;
    if (!arenaRangeReadable(record, kModelRecordLength)) fail("substituted a record that is not readable");
    const uint8_t* copy;
    std::memcpy(&copy, block + kModelRefRecordOffset, sizeof copy);
    if (copy == record || copy == nullptr) fail("substitute names the host's record");
    const void* identity;
    std::memcpy(&identity, record, sizeof identity);
    const uint64_t length = modelRecordLength(identity);
    if (!arenaRangeReadable(record, length)) fail("substituted a record that is not readable throughout");
    for (size_t i = 0; i < length; ++i) {
      if (!isSlotGroupByte(i) && copy[i] != record[i]) fail("record copy differs outside the matrices");
    }
  }
  if (outSlot != nullptr) *outSlot = reinterpret_cast<void*>(0x5107);
  return value ^ 0x5A5A5A5Aull;
}

Matrix4x4 product(const Matrix4x4& a, const Matrix4x4& b) {
  Matrix4x4 out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += static_cast<double>(a.m[r * 4 + k]) * b.m[k * 4 + c];
      out.m[r * 4 + c] = static_cast<float>(sum);
    }
  return out;
}

Matrix4x4 lastWorld[kRecordSlots];

Matrix4x4 nextWorld(FuzzInput& in, size_t slot) {
  const uint8_t mode = in.byte();
  Matrix4x4 w = lastWorld[slot];
  if (mode < 128 && w.m[15] == 1.0f) {
    w.m[3] += static_cast<int8_t>(in.byte()) / 256.0f;
    w.m[7] += static_cast<int8_t>(in.byte()) / 256.0f;
  } else if (mode < 230) {
    w = fuzzMatrix4x4(in);
  }
  lastWorld[slot] = w;
  return w;
}

void writeMatrix(uint8_t* record, uint64_t offset, const Matrix4x4& m) { std::memcpy(record + offset, &m, sizeof m); }

// Builds a model record at `record`: class, the four current and four previous
// matrices (consistent or not), depth and owner.
void buildRecord(FuzzInput& in, uint8_t* record, size_t slot) {
  const uint8_t classMode = in.byte();
  uint64_t identity;
  const void* known = (classMode & 3) == 0 ? skinnedModelClass() : staticModelClass();
  std::memcpy(&identity, &known, sizeof identity);
  if (classMode >= 240) identity = in.u64();
  std::memcpy(record, &identity, sizeof identity);

  const Matrix4x4 previous = lastWorld[slot];
  const Matrix4x4 current = nextWorld(in, slot);
  static const Matrix4x4 factor1 = {{1, 0, 0, 0.5f, 0, 1, 0, -2, 0, 0, 1, 3, 0, 0, 0, 1}};
  static const Matrix4x4 factor2 = {{0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1}};
  const uint8_t consistency = in.byte();
  const Matrix4x4* worlds[2] = {&current, &previous};
  const uint64_t offsets[2][4] = {
      {kModelCurrentWorldOffset, kModelCurrentInverseOffset, kModelCurrentDerived1Offset, kModelCurrentDerived2Offset},
      {kModelPreviousWorldOffset, kModelPreviousInverseOffset, kModelPreviousDerived1Offset,
       kModelPreviousDerived2Offset}};
  for (int g = 0; g < 2; ++g) {
    const Matrix4x4& w = *worlds[g];
    writeMatrix(record, offsets[g][0], w);
    writeMatrix(record, offsets[g][1], (consistency & 1) ? fuzzMatrix4x4(in) : inverseOfRigid(w));
    writeMatrix(record, offsets[g][2], (consistency & 2) ? fuzzMatrix4x4(in) : product(factor1, w));
    writeMatrix(record, offsets[g][3], (consistency & 4) ? fuzzMatrix4x4(in) : product(factor2, w));
  }
  const uint8_t depthMode = in.byte();
  const float depth = depthMode < 80 ? 1.5f : depthMode < 160 ? 500.0f : fuzzFloat(in);
  std::memcpy(record + kModelDepthValueOffset, &depth, sizeof depth);
  const void* owner = fuzzPointer(in, nullptr);
  std::memcpy(record + kModelOwnerOffset, &owner, sizeof owner);
}

void oneCall(FuzzInput& in) {
  const size_t slot = in.byte() % kRecordSlots;
  uint8_t* record = arena() + slot * kRecordStride + (in.byte() % 64);
  buildRecord(in, record, slot);

  uint8_t* block = arena() + kBlockPage * kPageSize + slot * 64 + (in.byte() % 32);
  const uint64_t marker = kBlockMarker + slot;
  std::memcpy(block, &marker, sizeof marker);
  const void* named = fuzzPointer(in, record);
  std::memcpy(block + kModelRefRecordOffset, &named, sizeof named);

  const uint8_t* handed = static_cast<const uint8_t*>(fuzzPointer(in, block));
  void** outSlot =
      (in.byte() & 7) == 0 ? nullptr : reinterpret_cast<void**>(arena() + kOutSlotPage * kPageSize + 8 * slot);

  protectSomeArenaPages(in, 0, kOutSlotPage);
  expected = Expected{outSlot, in.u64(), fuzzFloat(in), handed, nullptr, 0};
  takeSnapshot();
  if (outSlot != nullptr) allowWrite(outSlot, sizeof *outSlot);
  const uint64_t result = GpuCopyHook(outSlot, expected.value, expected.f, handed);
  if (result != (expected.value ^ 0x5A5A5A5Aull)) fail("result is not the host's");
  if (expected.calls != 1) fail("host function not called exactly once");
  if (outSlot != nullptr && *outSlot != reinterpret_cast<void*>(0x5107) &&
      (expected.record == nullptr || *outSlot != expected.record))
    fail("out-slot holds neither the host's value nor the host's record");
  checkUnchanged("GpuCopyHook");
  unprotectArena();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = startFuzzInput(data, size, kOutSlotPage + 1);
  gpuCopyTrampoline.store(hostGpuCopy);
  gpuCopyInstalled.store((in.byte() & 15) == 0 ? nullptr : reinterpret_cast<void*>(hostGpuCopy));
  framesAndCalls(in, 24, oneCall);
  return 0;
}
