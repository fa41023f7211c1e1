// The renderer hooks on 1, 2 and 4 threads at once, natively: the world pass
// (GpuCopyHook on distinct world models, every probe answered readable, shadow
// publication on) and palette preparation (PoseUploadHook on distinct skinned
// characters). The same models are shared out among the threads, so the CPU
// time per call (summed over the threads) of a run on 4 threads compared with
// the run on 1 shows what contention adds. The *Locks variants time every
// reader/writer lock the hooks take (the link wraps the native SlimLock
// operations with the ones below): per call, the time spent waiting to acquire
// and the time an exclusive lock is held.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "shadow/publication.h"
#include "shadow/test_seam.h"
#include "skeletal/palette_interpolation.h"
#include "skeletal/test_seam.h"
#include "world/model_record.h"
#include "world/test_seam.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::math;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::shadow;
using namespace corvane::skeletal;
using namespace corvane::world;

// --- Lock timing -----------------------------------------------------------

namespace {

std::atomic<bool> timingLocks{false};

struct LockTimes {
  int64_t waitNs;
  int64_t heldNs;
  int64_t exclusive;  // exclusive acquisitions
  const SlimLock* held;
  int64_t heldSince;
  int64_t triedSince;  // first failed try of the acquisition under way, or 0
};
thread_local LockTimes lockTimes;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A busy lock is tried a few times before the thread waits for it: the wait
// runs from the first failed try to the acquisition.
template <class Acquire>
bool timedAcquire(Acquire acquire, const SlimLock* lock, bool exclusive, bool attempt) {
  if (!timingLocks.load(std::memory_order_relaxed)) return acquire();
  const int64_t start = lockTimes.triedSince != 0 ? lockTimes.triedSince : nowNs();
  const bool taken = acquire();
  const int64_t acquired = nowNs();
  if (attempt && !taken) {
    if (lockTimes.triedSince == 0) lockTimes.triedSince = start;
    return false;
  }
  lockTimes.triedSince = 0;
  lockTimes.waitNs += acquired - start;
  if (exclusive) {
    ++lockTimes.exclusive;
    lockTimes.held = lock;
    lockTimes.heldSince = acquired;
  }
  return true;
}

// One exclusive hold is timed at a time: a visit holds one lock, and the rare
// hold of a whole table (every part, in order) times as its last part.
void endHold(const SlimLock* lock) {
  if (lockTimes.held == lock) {
    lockTimes.heldNs += nowNs() - lockTimes.heldSince;
    lockTimes.held = nullptr;
  }
}

}  // namespace

// The link (bench/CMakeLists.txt) sends the hooks' calls of the native lock
// operations to the __wrap_ functions; __real_ names the operation itself.
extern "C" {
bool __real__ZN7corvane2os16tryLockExclusiveERNS0_8SlimLockE(SlimLock& l);   // tryLockExclusive
bool __real__ZN7corvane2os13tryLockSharedERNS0_8SlimLockE(SlimLock& l);      // tryLockShared
void __real__ZN7corvane2os17waitLockExclusiveERNS0_8SlimLockE(SlimLock& l);  // waitLockExclusive
void __real__ZN7corvane2os14waitLockSharedERNS0_8SlimLockE(SlimLock& l);     // waitLockShared
void __real__ZN7corvane2os15unlockExclusiveERNS0_8SlimLockE(SlimLock& l);    // unlockExclusive
void __real__ZN7corvane2os12unlockSharedERNS0_8SlimLockE(SlimLock& l);       // unlockShared

bool __wrap__ZN7corvane2os16tryLockExclusiveERNS0_8SlimLockE(SlimLock& l) {
  return timedAcquire([&] { return __real__ZN7corvane2os16tryLockExclusiveERNS0_8SlimLockE(l); }, &l, true, true);
}
bool __wrap__ZN7corvane2os13tryLockSharedERNS0_8SlimLockE(SlimLock& l) {
  return timedAcquire([&] { return __real__ZN7corvane2os13tryLockSharedERNS0_8SlimLockE(l); }, &l, false, true);
}
void __wrap__ZN7corvane2os17waitLockExclusiveERNS0_8SlimLockE(SlimLock& l) {
  timedAcquire([&] { return __real__ZN7corvane2os17waitLockExclusiveERNS0_8SlimLockE(l), true; }, &l, true, false);
}
void __wrap__ZN7corvane2os14waitLockSharedERNS0_8SlimLockE(SlimLock& l) {
  timedAcquire([&] { return __real__ZN7corvane2os14waitLockSharedERNS0_8SlimLockE(l), true; }, &l, false, false);
}
void __wrap__ZN7corvane2os15unlockExclusiveERNS0_8SlimLockE(SlimLock& l) {
  endHold(&l);
  __real__ZN7corvane2os15unlockExclusiveERNS0_8SlimLockE(l);
}
void __wrap__ZN7corvane2os12unlockSharedERNS0_8SlimLockE(SlimLock& l) {
  __real__ZN7corvane2os12unlockSharedERNS0_8SlimLockE(l);
}
}

namespace {

void startLockTiming(benchmark::State& state, bool timed) {
  lockTimes = LockTimes{};
  if (timed && state.thread_index() == 0) timingLocks.store(true);
}

// Every run reports the same counters (the CSV output needs them all); the
// untimed runs report zeros.
void reportLockTiming(benchmark::State& state, bool timed) {
  // Summed over the threads, then divided by every thread's iterations: per call.
  state.counters["wait_ns"] = benchmark::Counter(double(lockTimes.waitNs), benchmark::Counter::kAvgIterations);
  state.counters["held_ns"] = benchmark::Counter(double(lockTimes.heldNs), benchmark::Counter::kAvgIterations);
  state.counters["exclusive"] = benchmark::Counter(double(lockTimes.exclusive), benchmark::Counter::kAvgIterations);
  if (timed && state.thread_index() == 0) timingLocks.store(false);
}

// --- The host ----------------------------------------------------------------

bool everythingReadable(const void*, MemoryRegion* out) {
  *out = {0, ~uintptr_t{0} >> 1, kMemCommit, kPageReadWrite};
  return true;
}
bool discardLine(const wchar_t*, const char*, size_t) { return true; }

uint64_t CORVANE_HOSTCALL hostCopy(void** outSlot, uint64_t value, float, const uint8_t* block) {
  benchmark::DoNotOptimize(block);
  if (outSlot != nullptr) *outSlot = nullptr;
  return value;
}
uint64_t CORVANE_HOSTCALL hostUpload(uint8_t* record, uint64_t value) {
  benchmark::DoNotOptimize(record);
  return value + 1;
}

void useHost() {
  static uint8_t* image = static_cast<uint8_t*>(
      mmap(nullptr, 0x3C00000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  hostBase = image;
  platform.queryRegion = everythingReadable;
  platform.appendToFile = discardLine;
  gpuCopyTrampoline.store(hostCopy);
  gpuCopyInstalled.store(reinterpret_cast<void*>(hostCopy));
  poseUploadTrampoline.store(hostUpload);
  poseUploadInstalled.store(reinterpret_cast<void*>(hostUpload));
}

// Frames advance by a sliver, inside the extrapolation limit, so every call
// blends the same stored pair to a new moment.
double presentation = 0.02;
void nextFrame(double sampleTime) {
  presentation += 1e-7;
  publishPresentationFrame(presentation, sampleTime, true);
}

// The renderer's frame: each thread draws its share of the models, waits
// (untimed) until every thread is through, and the last one presents the next
// frame. So every model is drawn once a frame, as the renderer does.
struct FrameBarrier {
  std::mutex lock;
  std::condition_variable next;
  int arrived = 0;
  uint64_t generation = 0;
};
FrameBarrier frameBarrier;

void endFrame(benchmark::State& state, double sampleTime) {
  state.PauseTiming();
  {
    std::unique_lock<std::mutex> guard(frameBarrier.lock);
    const uint64_t generation = frameBarrier.generation;
    if (++frameBarrier.arrived == state.threads()) {
      frameBarrier.arrived = 0;
      nextFrame(sampleTime);
      ++frameBarrier.generation;
      frameBarrier.next.notify_all();
    } else {
      frameBarrier.next.wait(guard, [&] { return frameBarrier.generation != generation; });
    }
  }
  state.ResumeTiming();
}

// Thread t draws models t, t + threads, ...; the shares are equal, so every
// thread meets the barrier at the same iterations. Reports the wall time inside
// the calls, summed over the threads, per call (wall_ns).
template <typename Call>
void share(benchmark::State& state, size_t models, double sampleTime, bool timed, Call call) {
  if (models % static_cast<size_t>(state.threads()) != 0) {
    state.SkipWithError("the models do not share out evenly");
    return;
  }
  startLockTiming(state, timed);
  const size_t first = static_cast<size_t>(state.thread_index()), step = static_cast<size_t>(state.threads());
  size_t next = first;
  int64_t wall = 0, shareStart = nowNs();
  for (auto _ : state) {
    call(next);
    next += step;
    if (next >= models) {
      wall += nowNs() - shareStart;
      next = first;
      endFrame(state, sampleTime);
      shareStart = nowNs();
    }
  }
  wall += nowNs() - shareStart;
  state.counters["wall_ns"] = benchmark::Counter(double(wall), benchmark::Counter::kAvgIterations);
  reportLockTiming(state, timed);
}

// --- World pass --------------------------------------------------------------

constexpr size_t kWorldModels = 1024;
constexpr double kWorldSampleTime = 0.0333;

struct WorldModel {
  alignas(64) uint8_t record[kModelRecordLength];
  uint8_t block[16];
  uint8_t owner[64];
};
std::vector<WorldModel> worldModels(kWorldModels);

Matrix4x4 placed(size_t model, double x, bool inverse) {
  Matrix4x4 m{};
  const double angle = 0.001 * static_cast<double>(model) + 0.01 * x;
  const float c = static_cast<float>(std::cos(angle)), s = static_cast<float>(std::sin(angle));
  m.m[0] = c, m.m[1] = inverse ? s : -s, m.m[4] = inverse ? -s : s, m.m[5] = c;
  m.m[10] = m.m[15] = 1.0f;
  const float t[3] = {static_cast<float>(10.0 * static_cast<double>(model) + x), 5.0f, -2.0f};
  for (int row = 0; row < 3; ++row) {
    // The inverse of a rotation R and translation t is R^T with -R^T t.
    float value = t[row];
    if (inverse) value = -(m.m[row * 4 + 0] * t[0] + m.m[row * 4 + 1] * t[1] + m.m[row * 4 + 2] * t[2]);
    m.m[row * 4 + 3] = value;
  }
  return m;
}

void placeWorld(size_t model, double x, double previousX) {
  uint8_t* record = worldModels[model].record;
  const uint64_t current[4] = {kModelCurrentWorldOffset, kModelCurrentInverseOffset, kModelCurrentDerived1Offset,
                               kModelCurrentDerived2Offset};
  const uint64_t previous[4] = {kModelPreviousWorldOffset, kModelPreviousInverseOffset, kModelPreviousDerived1Offset,
                                kModelPreviousDerived2Offset};
  for (int k = 0; k < 4; ++k) {
    const Matrix4x4 now = placed(model, x, k == 1), before = placed(model, previousX, k == 1);
    std::memcpy(record + current[k], &now, 64);
    std::memcpy(record + previous[k], &before, 64);
  }
}

void drawWorld(size_t model) {
  void* slot;
  benchmark::DoNotOptimize(GpuCopyHook(&slot, 1, 0.0f, worldModels[model].block));
}

// Every model's track holds two samples: moving models one unit apart, still ones the same.
void setUpWorld(bool moving) {
  useHost();
  std::memset(&settings, 0, sizeof settings);
  settings.worldTransforms = 1;
  settings.shadowTransforms = 1;
  resetWorldTracksForTests();
  resetShadowPublicationForTests();
  presentation = 0.02;
  const void* identity = staticModelClass();
  for (size_t i = 0; i < kWorldModels; ++i) {
    WorldModel& m = worldModels[i];
    std::memset(m.record, 0, sizeof m.record);
    std::memcpy(m.record, &identity, 8);
    const void* owner = m.owner;
    std::memcpy(m.record + kModelOwnerOffset, &owner, 8);
    std::memset(m.block, 0x11, 8);
    const uint8_t* record = m.record;
    std::memcpy(m.block + 8, &record, 8);
    placeWorld(i, 0.0, 0.0);
  }
  publishPresentationFrame(0.0, 0.0, true);
  for (size_t i = 0; i < kWorldModels; ++i) drawWorld(i);
  for (size_t i = 0; i < kWorldModels; ++i) placeWorld(i, moving ? 1.0 : 0.0, 0.0);
  nextFrame(kWorldSampleTime);
  for (size_t i = 0; i < kWorldModels; ++i) drawWorld(i);
}

void worldPass(benchmark::State& state, bool moving, bool timed) {
  if (state.thread_index() == 0) setUpWorld(moving);
  share(state, kWorldModels, kWorldSampleTime, timed, drawWorld);
}
BENCHMARK_CAPTURE(worldPass, moving, true, false)->Threads(1)->Threads(2)->Threads(4);
BENCHMARK_CAPTURE(worldPass, still, false, false)->Threads(1)->Threads(2)->Threads(4);
BENCHMARK_CAPTURE(worldPass, movingLocks, true, true)->Threads(1)->Threads(2)->Threads(4);

// --- Palette preparation ----------------------------------------------------

constexpr size_t kCharacters = 20;
constexpr uint32_t kJoints = 100;
constexpr uint32_t kPaddedJoints = (kJoints + 7) / 8 * 8;
constexpr size_t kSkinnedRecordBytes = 0x2140;
constexpr double kPaletteSampleTime = 1.01;

struct Character {
  alignas(64) uint8_t record[kSkinnedRecordBytes];
  alignas(64) Matrix3x4 palette[kPaddedJoints];
};
std::vector<Character> characters(kCharacters);

void writePose(Matrix3x4* palette, size_t character, double degrees) {
  for (uint32_t j = 0; j < kJoints; ++j) {
    const double a = (3.0 * j + static_cast<double>(character) + degrees) * 3.141592653589793 / 180.0;
    Matrix3x4 m{};
    m.m[0] = static_cast<float>(std::cos(a)), m.m[1] = static_cast<float>(-std::sin(a));
    m.m[4] = static_cast<float>(std::sin(a)), m.m[5] = static_cast<float>(std::cos(a));
    m.m[10] = 1.0f;
    m.m[3] = static_cast<float>(j), m.m[7] = static_cast<float>(character), m.m[11] = -1.0f;
    palette[j] = m;
  }
}

void upload(size_t character) { benchmark::DoNotOptimize(PoseUploadHook(characters[character].record, 7)); }

// Every character's track holds two poses half a degree apart per joint.
void setUpPalettes() {
  useHost();
  std::memset(&settings, 0, sizeof settings);
  settings.worldSkeletons = 1;
  resetSkeletalTablesForTests();
  const void* skinned = skinnedModelClass();
  const uint32_t joints = kJoints, padded = kPaddedJoints;
  for (size_t c = 0; c < kCharacters; ++c) {
    Character& ch = characters[c];
    std::memset(ch.record, 0, sizeof ch.record);
    std::memset(ch.palette, 0, sizeof ch.palette);
    const void* owner = &ch.record[0x100];
    const void* asset = &ch.record[0x200];
    const Matrix3x4* palette = ch.palette;
    std::memcpy(ch.record, &skinned, 8);
    std::memcpy(ch.record + kModelOwnerOffset, &owner, 8);
    std::memcpy(ch.record + kModelAssetOffset, &asset, 8);
    std::memcpy(ch.record + kModelPaletteOffset, &palette, 8);
    std::memcpy(ch.record + kModelJointsOffset, &joints, 4);
    std::memcpy(ch.record + kModelPaddedJointsOffset, &padded, 4);
  }
  for (size_t c = 0; c < kCharacters; ++c) writePose(characters[c].palette, c, 0.0);
  publishPresentationFrame(1.0, 1.0, true);
  presentation = kPaletteSampleTime;
  for (size_t c = 0; c < kCharacters; ++c) upload(c);
  for (size_t c = 0; c < kCharacters; ++c) writePose(characters[c].palette, c, 0.5);
  nextFrame(kPaletteSampleTime);
  for (size_t c = 0; c < kCharacters; ++c) upload(c);
}

void paletteUpload(benchmark::State& state, bool timed) {
  if (state.thread_index() == 0) setUpPalettes();
  share(state, kCharacters, kPaletteSampleTime, timed, upload);
}
BENCHMARK_CAPTURE(paletteUpload, joints100, false)->Threads(1)->Threads(2)->Threads(4);
BENCHMARK_CAPTURE(paletteUpload, joints100Locks, true)->Threads(1)->Threads(2)->Threads(4);

}  // namespace
