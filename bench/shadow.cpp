// Cost of one caster-list proxy call over 2000 casters, with half of them
// published and with none, their transforms side by side or each in a record
// of its own as in the game (a model record's length apart). The region query is replaced by a constant answer
// so the figures show the proxy's own work.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "camera/frame_state.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "shadow/publication.h"
#include "shadow/test_seam.h"
#include "world/content_key.h"

using namespace corvane::camera;
using namespace corvane::math;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

constexpr uint32_t kCasters = 2000;

uint64_t CORVANE_HOSTCALL hostBuild(uint64_t, uint64_t, void* list, uint64_t, uint64_t, float) {
  benchmark::DoNotOptimize(list);
  return 0;
}

bool everythingReadable(const void*, MemoryRegion* out) {
  *out = {0, ~uintptr_t{0} >> 1, kMemCommit, kPageReadWrite};
  return true;
}

struct Lists {
  uint8_t header[16];
  std::vector<uint8_t> entries = std::vector<uint8_t>(kCasters * 48);
  std::vector<Matrix4x4> transforms;

  Lists(bool publishHalf, size_t spacing) : transforms(kCasters * spacing) {
    resetShadowPublicationForTests();
    if (latestPresentationSerial.load() == 0) publishPresentationFrame(0.0, 0.0, true);
    const uint64_t serial = latestPresentationSerial.load();
    Matrix4x4 shift{};
    shift.m[0] = shift.m[5] = shift.m[10] = shift.m[15] = 1.0f;
    shift.m[3] = 0.5f;
    for (uint32_t i = 0; i < kCasters; ++i) {
      Matrix4x4& t = transforms[i * spacing];
      t = shift;
      t.m[3] = static_cast<float>(i);
      t.m[7] = static_cast<float>(i % 17);
      const Matrix4x4* p = &t;
      std::memcpy(entries.data() + i * 48 + 8, &p, 8);
      if (publishHalf && i % 2 == 0) publishShadowCorrection(p, contentKey(t), shift, serial);
    }
    const uint8_t* e = entries.data();
    std::memcpy(header, &e, 8);
    const uint64_t count = kCasters;
    std::memcpy(header + 8, &count, 8);
    shadowTrampolines[0].store(reinterpret_cast<void*>(hostBuild));
    platform.queryRegion = everythingReadable;
  }
  ~Lists() { resetPlatform(); }
};

void BM_ProxyCall(benchmark::State& state) {
  // In records: 7376 bytes, rounded up to whole matrices.
  Lists lists(state.range(0) != 0, state.range(1) != 0 ? 116 : 1);
  for (auto _ : state) benchmark::DoNotOptimize(shadowCasterProxy0(0, 0, lists.header, 0, 0, 0.0f));
  state.counters["ns/caster"] = benchmark::Counter(static_cast<double>(kCasters) * state.iterations(),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProxyCall)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMicrosecond);

}  // namespace
