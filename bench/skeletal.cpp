// Cost of palette preparation per skinned upload, against the floor of hashing
// the palette twice (the host's palette and the presentation palette are both
// hashed) with byte-serial FNV-1a. The region query is replaced by a constant
// answer so the figures show the system's own work.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cmath>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "math/blend.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "skeletal/palette_interpolation.h"
#include "skeletal/skeletal_tracks.h"
#include "skeletal/test_seam.h"
#include "tests/support/reference.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::skeletal;

namespace {

bool everythingReadable(const void*, MemoryRegion* out) {
  *out = {0, ~uintptr_t{0} >> 1, kMemCommit, kPageReadWrite};
  return true;
}

bool discardLine(const wchar_t*, const char*, size_t) { return true; }

uint64_t CORVANE_HOSTCALL hostUpload(uint8_t* record, uint64_t value) {
  benchmark::DoNotOptimize(record);
  return value + 1;
}

Matrix3x4 joint(double degrees, double tx, double ty, double tz) {
  return ref::joint({{1.0, 0.3, 0.5}}, degrees, {{tx, ty, tz}});
}

void writePose(Matrix3x4* palette, uint32_t joints, double phase) {
  for (uint32_t j = 0; j < joints; ++j) palette[j] = joint(3.0 * j + phase, j, phase * 0.01, -1.0);
}

// A skinned world model whose track holds a pair `step` degrees apart per joint.
struct SkinnedModel {
  uint8_t* record;
  Matrix3x4* palette;
  uint32_t joints;

  SkinnedModel(uint32_t count, double step) : joints(count) {
    static uint8_t* image = static_cast<uint8_t*>(
        mmap(nullptr, 0x3C00000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    hostBase = image;
    platform.queryRegion = everythingReadable;
    platform.appendToFile = discardLine;
    settings.worldSkeletons = 1;
    poseUploadTrampoline.store(hostUpload);
    poseUploadInstalled.store(reinterpret_cast<void*>(hostUpload));
    resetSkeletalTablesForTests();

    record = static_cast<uint8_t*>(std::aligned_alloc(64, 0x2140));
    std::memset(record, 0, 0x2140);
    palette = static_cast<Matrix3x4*>(std::aligned_alloc(64, 256 * sizeof(Matrix3x4)));
    const void* skinned = hostBase + kSkinnedModelClassRva;
    const void* owner = &record[0x100];
    const void* asset = &record[0x200];
    std::memcpy(record, &skinned, 8);
    std::memcpy(record + kModelOwnerOffset, &owner, 8);
    std::memcpy(record + kModelAssetOffset, &asset, 8);
    std::memcpy(record + kModelPaletteOffset, &palette, 8);
    std::memcpy(record + kModelJointsOffset, &joints, 4);
    std::memcpy(record + kModelPaddedJointsOffset, &joints, 4);

    writePose(palette, joints, 0.0);
    sample(1.0, 1.0);
    writePose(palette, joints, step);
    sample(1.01, 1.01);
  }
  ~SkinnedModel() {
    std::free(record);
    std::free(palette);
    resetPlatform();
  }
  void sample(double presentation, double sampleTime) {
    publishPresentationFrame(presentation, sampleTime, true);
    Matrix3x4 out[256];
    PaletteUpload upload{};
    preparePalette(record, out, &upload);
  }
};

uint64_t byteSerialFnv(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t h = kFnvStart;
  for (size_t i = 0; i < length; ++i) {
    h ^= p[i];
    h *= kFnvPrime;
  }
  return h;
}

void BM_FloorHashPaletteTwice(benchmark::State& state) {
  const uint32_t joints = static_cast<uint32_t>(state.range(0));
  Matrix3x4 a[256], b[256];
  writePose(a, joints, 0.0);
  writePose(b, joints, 0.5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(byteSerialFnv(a, joints * sizeof(Matrix3x4)));
    benchmark::DoNotOptimize(byteSerialFnv(b, joints * sizeof(Matrix3x4)));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FloorHashPaletteTwice)->Arg(64)->Arg(256);

// One presented frame between simulation steps: the pair is blended again.
// Includes publishing the frame (one short exclusive lock).
void prepareAndRecord(benchmark::State& state, double step) {
  SkinnedModel model(static_cast<uint32_t>(state.range(0)), step);
  Matrix3x4 out[256];
  double presentation = 1.01;
  for (auto _ : state) {
    presentation += 1e-6;
    publishPresentationFrame(presentation, 1.01, true);
    PaletteUpload upload{};
    if (!preparePalette(model.record, out, &upload)) state.SkipWithError("nothing prepared");
    recordUpload(upload);
    benchmark::DoNotOptimize(out);
  }
}
void BM_PrepareAndRecordSmallAngle(benchmark::State& state) { prepareAndRecord(state, 0.5); }
void BM_PrepareAndRecordLargeAngle(benchmark::State& state) { prepareAndRecord(state, 20.0); }
BENCHMARK(BM_PrepareAndRecordSmallAngle)->Arg(64)->Arg(256);
BENCHMARK(BM_PrepareAndRecordLargeAngle)->Arg(64)->Arg(256);

// Every call brings a new distinct sample: continuity test and buffer copies.
void BM_PrepareNewSampleEveryCall(benchmark::State& state) {
  SkinnedModel model(static_cast<uint32_t>(state.range(0)), 0.5);
  Matrix3x4 poses[2][256];
  writePose(poses[0], model.joints, 0.0);
  writePose(poses[1], model.joints, 0.5);
  Matrix3x4 out[256];
  double sampleTime = 1.01;
  int which = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(model.palette, poses[which], model.joints * sizeof(Matrix3x4));
    which ^= 1;
    sampleTime += 0.01;
    state.ResumeTiming();
    publishPresentationFrame(sampleTime + 0.005, sampleTime, true);
    PaletteUpload upload{};
    if (!preparePalette(model.record, out, &upload)) state.SkipWithError("nothing prepared");
    recordUpload(upload);
  }
}
BENCHMARK(BM_PrepareNewSampleEveryCall)->Arg(64)->Arg(256);

// The whole hook on a substituted upload (zero-fill, preparation, the host call, restore).
void BM_PoseUploadHookSubstituted(benchmark::State& state) {
  SkinnedModel model(static_cast<uint32_t>(state.range(0)), 0.5);
  double presentation = 1.01;
  for (auto _ : state) {
    presentation += 1e-6;
    publishPresentationFrame(presentation, 1.01, true);
    benchmark::DoNotOptimize(PoseUploadHook(model.record, 7));
  }
}
BENCHMARK(BM_PoseUploadHookSubstituted)->Arg(64)->Arg(256);

}  // namespace

void reportStaticSize(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(skeletalTracks);
  state.counters["skeletalTableBytes"] = double(sizeof skeletalTracks);
  state.counters["ownerlessTableBytes"] = double(sizeof ownerlessTracks);
  state.counters["trackBytes"] = double(sizeof(SkeletalTrack));
}
BENCHMARK(reportStaticSize)->Iterations(1);
