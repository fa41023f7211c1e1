// Cost of the GPU-parameter hook per model: pass-through, first-person and
// world paths, and the parts of a call (address probes, record copy).
// The region query is replaced by a constant answer so the figures show the
// hook's own work; BM_ProbeRealRegionQuery shows this machine's real query.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cmath>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "patch/hooks.h"
#include "patch/readable.h"
#include "platform/platform.h"
#include "world/model_record.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::math;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::world;

namespace {

uint64_t CORVANE_HOSTCALL hostCopy(void** outSlot, uint64_t value, float, const uint8_t* block) {
  benchmark::DoNotOptimize(block);
  if (outSlot != nullptr) *outSlot = nullptr;
  return value;
}

bool everythingReadable(const void*, MemoryRegion* out) {
  *out = {0, ~uintptr_t{0} >> 1, kMemCommit, kPageReadWrite};
  return true;
}

Matrix4x4 translation(double x) {
  Matrix4x4 m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  m.m[3] = static_cast<float>(x);
  return m;
}

struct Host {
  uint8_t* record;
  uint8_t block[16];

  Host() {
    static uint8_t* image = static_cast<uint8_t*>(
        mmap(nullptr, 0x3C00000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    hostBase = image;
    record = static_cast<uint8_t*>(std::aligned_alloc(64, kRecordCopyCapacity));
    std::memset(record, 0, kRecordCopyCapacity);
    const void* identity = staticModelClass();
    std::memcpy(record, &identity, 8);
    const void* owner = reinterpret_cast<void*>(0x1234560);
    std::memcpy(record + kModelOwnerOffset, &owner, 8);
    std::memset(block, 0x11, 8);
    std::memcpy(block + 8, &record, 8);
    place(1.0, 0.0);
    gpuCopyTrampoline.store(hostCopy);
    gpuCopyInstalled.store(reinterpret_cast<void*>(hostCopy));
    platform.queryRegion = everythingReadable;
  }
  ~Host() {
    std::free(record);
    resetPlatform();
    std::memset(&settings, 0, sizeof settings);
  }
  void place(double x, double previousX) {
    for (uint64_t offset : {kModelCurrentWorldOffset, kModelCurrentInverseOffset, kModelCurrentDerived1Offset,
                            kModelCurrentDerived2Offset}) {
      const Matrix4x4 m = translation(offset == kModelCurrentInverseOffset ? -x : x);
      std::memcpy(record + offset, &m, 64);
    }
    for (uint64_t offset : {kModelPreviousWorldOffset, kModelPreviousInverseOffset, kModelPreviousDerived1Offset,
                            kModelPreviousDerived2Offset}) {
      const Matrix4x4 m = translation(offset == kModelPreviousInverseOffset ? -previousX : previousX);
      std::memcpy(record + offset, &m, 64);
    }
  }
  void call() {
    void* slot;
    benchmark::DoNotOptimize(GpuCopyHook(&slot, 1, 0.0f, block));
  }
};

void BM_PassThrough(benchmark::State& state) {
  Host host;
  for (auto _ : state) host.call();
}
BENCHMARK(BM_PassThrough);

void BM_Probes(benchmark::State& state) {
  Host host;
  for (auto _ : state) {
    benchmark::DoNotOptimize(isReadableRange(host.block, 16));
    benchmark::DoNotOptimize(isReadableRange(host.record, kModelRecordLength));
  }
}
BENCHMARK(BM_Probes);

void BM_ProbeRealRegionQuery(benchmark::State& state) {
  Host host;
  resetPlatform();
  for (auto _ : state) benchmark::DoNotOptimize(isReadableRange(host.record, kModelRecordLength));
}
BENCHMARK(BM_ProbeRealRegionQuery);

void BM_RecordCopy(benchmark::State& state) {
  Host host;
  alignas(16) uint8_t copy[kRecordCopyCapacity];
  for (auto _ : state) {
    std::memset(copy, 0, sizeof copy);
    std::memcpy(copy, host.record, kModelRecordLength);
    benchmark::DoNotOptimize(copy);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RecordCopy);

void BM_FirstPersonPath(benchmark::State& state) {
  Host host;
  settings.stabilizeFirstPersonHands = 1;
  const float depth = 10.0f;
  std::memcpy(host.record + kModelDepthValueOffset, &depth, 4);
  publishCameraCorrection(translation(0.1), translation(-0.1), true);
  publishCameraCorrection(translation(0.2), translation(-0.2), true);
  for (auto _ : state) host.call();
}
BENCHMARK(BM_FirstPersonPath);

// A model one unit away from where its first sample was, its second sample
// not yet taken.
void startMoving(Host& host, benchmark::State& state) {
  settings.worldTransforms = 1;
  settings.shadowTransforms = state.range(0);
  host.place(0.0, 0.0);
  publishPresentationFrame(0.0, 0.0, true);
  host.call();
  host.place(1.0, 0.0);
}

void BM_WorldPath(benchmark::State& state) {
  Host host;
  startMoving(host, state);
  publishPresentationFrame(0.02, 0.0333, true);
  for (auto _ : state) host.call();  // each call interpolates, rewrites and substitutes
}
BENCHMARK(BM_WorldPath)->Arg(0)->Arg(1);

// The same model once a frame, every frame between the same two samples: each
// call interpolates at a new factor.
void BM_WorldPathEveryFrame(benchmark::State& state) {
  Host host;
  startMoving(host, state);
  int frame = 0;
  for (auto _ : state) {
    publishPresentationFrame(0.02 + 0.001 * (++frame % 8), 0.0333, true);
    host.call();
  }
}
BENCHMARK(BM_WorldPathEveryFrame)->Arg(0)->Arg(1);

// A model standing still: both samples, the host's two matrices and what was
// presented are one placement; every call is a refusal with nothing to correct.
void BM_WorldPathAtRest(benchmark::State& state) {
  Host host;
  settings.worldTransforms = 1;
  host.place(1.0, 1.0);
  publishPresentationFrame(0.0, 0.0, true);
  host.call();
  publishPresentationFrame(0.02, 0.0333, true);
  host.call();
  for (auto _ : state) host.call();
}
BENCHMARK(BM_WorldPathAtRest);

}  // namespace
