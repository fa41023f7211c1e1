// A long run of every hook at once: the frame thread presents frames through
// ViewCopyHook (reports fall due along the way) while six renderer threads copy
// models, upload palettes and build caster lists. More models and skeletons are
// drawn than the tables hold, and half-way the scene changes so that the old
// tracks go stale and are replaced. Afterwards every counter equals the calls
// made and the tables agree with what the counters say was created.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "camera/test_seam.h"
#include "diagnostics/counters.h"
#include "diagnostics/test_seam.h"
#include "diagnostics/track_reports.h"
#include "patch/hooks.h"
#include "platform/locks.h"
#include "skeletal/test_seam.h"
#include "tests/support/library_dir.h"
#include "world/test_seam.h"
#include "world/world_tracks.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::math;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::skeletal;
using namespace corvane::world;

namespace {

constexpr int kFrames = 1300;
// Each renderer draws a window of its pool for kWindowFrames frames (two
// samples, so a pair to interpolate), then moves on to the next window. A
// pool wraps after more than 600 frames, so returning models find their old
// tracks stale; more models are live within 600 frames than the tables hold.
constexpr int kWindowFrames = 8;
constexpr int kGpuThreads = 2, kPoseThreads = 2, kShadowThreads = 2;
constexpr int kRendererThreads = kGpuThreads + kPoseThreads + kShadowThreads;
constexpr int kModelsPerGpuThread = 5120;  // wraps after 640 frames
constexpr int kModelsPerFrame = 64;        // 2 x 64 / 8 x 600 = 9600 live > 8192 slots
constexpr int kSkeletonsPerPoseThread = 1280;
constexpr int kSkeletonsPerFrame = 16;  // 2 x 16 / 8 x 600 = 2400 live > 1024 slots
constexpr int kJoints = 8;
constexpr int kCastersPerList = 48;
constexpr size_t kArenaBytes = size_t{1} << 30;

// All host memory of the run, in one region the fast region query knows.
uint8_t* arenaBase = nullptr;
std::atomic<size_t> arenaUsed{0};

uint8_t* hostAllocate(size_t size) {
  const size_t rounded = (size + 63) & ~size_t{63};
  const size_t offset = arenaUsed.fetch_add(rounded);
  if (offset + rounded > kArenaBytes) std::abort();
  return arenaBase + offset;
}

// Natively the real query reads /proc/self/maps; this one answers for the
// arena (readable throughout) and leaves the rest to the real one.
bool arenaQueryRegion(const void* address, MemoryRegion* out) {
  const auto a = reinterpret_cast<uintptr_t>(address);
  const auto base = reinterpret_cast<uintptr_t>(arenaBase);
  if (a >= base && a - base < kArenaBytes) {
    *out = MemoryRegion{base, kArenaBytes, kMemCommit, kPageReadWrite};
    return true;
  }
  return defaultPlatform().queryRegion(address, out);
}

// ---- Stand-ins for the host functions, each counting its calls.
std::atomic<uint64_t> hostGpuCopies{0}, hostUploads{0}, hostShadowBuilds{0}, hostViewCopies{0};

uint64_t CORVANE_HOSTCALL standInGpuCopy(void** outSlot, uint64_t value, float, const uint8_t* block) {
  hostGpuCopies++;
  const uint8_t* record;
  std::memcpy(&record, block + 8, sizeof record);
  volatile float sink = 0.0f;
  for (uint64_t offset = 0x20; offset < 0x220; offset += 4)
    sink = sink + *reinterpret_cast<const float*>(record + offset);
  if (outSlot != nullptr) *outSlot = nullptr;
  return value;
}

uint64_t CORVANE_HOSTCALL standInPoseUpload(uint8_t* record, uint64_t value) {
  hostUploads++;
  const Matrix3x4* palette;
  std::memcpy(&palette, record + kModelPaletteOffset, sizeof palette);
  volatile float sink = 0.0f;
  for (int j = 0; j < kJoints; ++j) sink = sink + palette[j].m[3];
  return value + 1;
}

uint64_t readList(const void* list) {
  hostShadowBuilds++;
  const uint8_t* entries;
  std::memcpy(&entries, list, sizeof entries);
  volatile float sink = 0.0f;
  for (int i = 0; i < kCastersPerList; ++i) {
    const float* transform;
    std::memcpy(&transform, entries + i * kCasterEntrySize + kCasterTransformOffset, sizeof transform);
    if (transform != nullptr) sink = sink + transform[3];
  }
  return 7;
}
uint64_t CORVANE_HOSTCALL standInShadow0(uint64_t, uint64_t, void* list, uint64_t, uint64_t, float) {
  return readList(list);
}
uint64_t CORVANE_HOSTCALL standInShadow1(uint64_t, uint64_t, void* list, uint64_t, uint64_t, float, int32_t, uint64_t) {
  return readList(list);
}

uint64_t CORVANE_HOSTCALL standInViewCopy(void* destination, void* source, uint64_t a3, uint64_t) {
  hostViewCopies++;
  std::memcpy(destination, source, 0xF0);
  return a3;
}

// ---- Host records.
Matrix4x4 translation(double x, double y, double z) {
  Matrix4x4 m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  m.m[3] = static_cast<float>(x);
  m.m[7] = static_cast<float>(y);
  m.m[11] = static_cast<float>(z);
  return m;
}

void writeMatrix(uint8_t* record, uint64_t offset, const Matrix4x4& m) { std::memcpy(record + offset, &m, sizeof m); }

// A model at x (previous frame at xPrevious): world, inverse and two derived forms.
void placeModel(uint8_t* record, double x, double xPrevious) {
  const double xs[2] = {x, xPrevious};
  const uint64_t groups[2][4] = {
      {kModelCurrentWorldOffset, kModelCurrentInverseOffset, kModelCurrentDerived1Offset, kModelCurrentDerived2Offset},
      {kModelPreviousWorldOffset, kModelPreviousInverseOffset, kModelPreviousDerived1Offset,
       kModelPreviousDerived2Offset}};
  for (int g = 0; g < 2; ++g) {
    writeMatrix(record, groups[g][0], translation(xs[g], 2, 3));
    writeMatrix(record, groups[g][1], translation(-xs[g], -2, -3));
    writeMatrix(record, groups[g][2], translation(xs[g] + 1, 2, 3));
    writeMatrix(record, groups[g][3], translation(xs[g], 2, 4));
  }
}

uint8_t* newModel() {
  uint8_t* record = hostAllocate(kModelRecordLength);
  const void* identity = hostBase + kStaticModelClassRva;
  const void* owner = hostAllocate(16);
  std::memcpy(record, &identity, sizeof identity);
  std::memcpy(record + kModelOwnerOffset, &owner, sizeof owner);
  return record;
}

struct Skeleton {
  uint8_t* record;
  Matrix3x4* palette;
};

Skeleton newSkeleton() {
  Skeleton s{hostAllocate(kSkinnedModelRecordLength), reinterpret_cast<Matrix3x4*>(hostAllocate(kJoints * 48))};
  const void* identity = hostBase + kSkinnedModelClassRva;
  const void* owner = hostAllocate(16);
  const void* asset = hostAllocate(16);
  const uint32_t joints = kJoints, padded = kJoints;
  const int8_t pending = 1;
  std::memcpy(s.record, &identity, 8);
  std::memcpy(s.record + kModelOwnerOffset, &owner, 8);
  std::memcpy(s.record + kModelAssetOffset, &asset, 8);
  std::memcpy(s.record + kModelPaletteOffset, &s.palette, 8);
  std::memcpy(s.record + kModelJointsOffset, &joints, 4);
  std::memcpy(s.record + kModelPaddedJointsOffset, &padded, 4);
  std::memcpy(s.record + kModelUploadPendingOffset, &pending, 1);
  return s;
}

void poseSkeleton(const Skeleton& s, double t) {
  for (int j = 0; j < kJoints; ++j) {
    Matrix3x4 m{};
    m.m[0] = m.m[5] = m.m[10] = 1.0f;
    m.m[3] = static_cast<float>(j + t);
    s.palette[j] = m;
  }
}

// ---- Lockstep: renderers work on frame f after it is published; the frame
// thread publishes f + 1 once every renderer finished f.
std::atomic<int> publishedFrame{0};
std::atomic<int> finished[kRendererThreads];

void waitForFrame(int frame) {
  while (publishedFrame.load(std::memory_order_acquire) < frame) std::this_thread::yield();
}

struct Tally {
  std::atomic<uint64_t> gpuCalls{0}, uploadCalls{0}, proxyCalls{0};
};

}  // namespace

TEST(Stress, EveryHookAtOnceThroughTablesPastCapacity) {
  arenaBase = static_cast<uint8_t*>(
      mmap(nullptr, kArenaBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  ASSERT_NE(arenaBase, MAP_FAILED);
  hostBase = static_cast<uint8_t*>(
      mmap(nullptr, 0x3C00000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  ASSERT_NE(hostBase, MAP_FAILED);
  platform.queryRegion = arenaQueryRegion;
  useFreshLibraryDirectory();
  settings = Settings{};
  settings.worldTransforms = settings.shadowTransforms = settings.worldSkeletons = 1;
  hostViewCopy.store(standInViewCopy);
  gpuCopyTrampoline.store(standInGpuCopy);
  gpuCopyInstalled.store(reinterpret_cast<void*>(standInGpuCopy));
  poseUploadTrampoline.store(standInPoseUpload);
  poseUploadInstalled.store(reinterpret_cast<void*>(standInPoseUpload));
  shadowTrampolines[0].store(reinterpret_cast<void*>(standInShadow0));
  shadowTrampolines[1].store(reinterpret_cast<void*>(standInShadow1));
  resetCameraStateForTests();
  resetReportSchedulesForTests();
  resetWorldTracksForTests();
  resetSkeletalTablesForTests();
  for (auto& f : finished) f.store(0);

  uint8_t* clock = hostAllocate(0x2E8000);
  const void* clockIdentity = hostBase + kClockClassRva;
  std::memcpy(clock, &clockIdentity, 8);
  std::memcpy(hostBase + kClockPointerRva, &clock, 8);
  uint8_t* source = hostAllocate(0xF0);
  uint8_t* destination = hostAllocate(0xF0);
  const float axes[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::memcpy(source + kViewAxesOffset, axes, sizeof axes);

  const uint64_t candidatesBefore = read(counters.world.candidates);
  const uint64_t skeletalCallsBefore = read(counters.skeletal.calls);
  const uint64_t proxyCallsBefore = read(counters.shadow.proxyCalls);
  Tally tally;

  // Models of each GPU thread; the shadow threads build lists of their transforms.
  static std::vector<uint8_t*> models[kGpuThreads];
  uint8_t* blocks[kGpuThreads] = {hostAllocate(16), hostAllocate(16)};
  for (auto& pool : models) {
    pool.clear();
    for (int m = 0; m < kModelsPerGpuThread; ++m) pool.push_back(newModel());
  }
  auto windowStart = [](int frame, int perFrame, int poolSize) {
    return (frame / kWindowFrames * perFrame) % poolSize;
  };

  std::vector<std::thread> threads;
  for (int g = 0; g < kGpuThreads; ++g) {
    threads.emplace_back([&, g] {
      for (int frame = 1; frame <= kFrames; ++frame) {
        waitForFrame(frame);
        const double t = copyPresentationFrame().sampleTime;
        std::vector<uint8_t*>& pool = models[g];
        uint8_t* block = blocks[g];
        const int start = windowStart(frame, kModelsPerFrame, kModelsPerGpuThread);
        for (int i = 0; i < kModelsPerFrame; ++i) {
          uint8_t* record = pool[start + i];
          placeModel(record, 10.0 * t + i, 10.0 * t + i - 0.1);
          std::memcpy(block + 8, &record, 8);  // the block lives in host memory too
          void* slot = nullptr;
          GpuCopyHook(&slot, 1, 0.0f, block);
          tally.gpuCalls++;
        }
        finished[g].fetch_add(1, std::memory_order_release);
      }
    });
  }
  for (int p = 0; p < kPoseThreads; ++p) {
    threads.emplace_back([&, p] {
      std::vector<Skeleton> pool;
      for (int s = 0; s < kSkeletonsPerPoseThread; ++s) pool.push_back(newSkeleton());
      for (int frame = 1; frame <= kFrames; ++frame) {
        waitForFrame(frame);
        const double t = copyPresentationFrame().sampleTime;
        const int start = windowStart(frame, kSkeletonsPerFrame, kSkeletonsPerPoseThread);
        for (int i = 0; i < kSkeletonsPerFrame; ++i) {
          const Skeleton& s = pool[start + i];
          poseSkeleton(s, t);
          PoseUploadHook(s.record, 40);
          tally.uploadCalls++;
        }
        finished[kGpuThreads + p].fetch_add(1, std::memory_order_release);
      }
    });
  }
  for (int s = 0; s < kShadowThreads; ++s) {
    threads.emplace_back([&, s] {
      uint8_t* list = hostAllocate(16);
      uint8_t* entries = hostAllocate(kCastersPerList * kCasterEntrySize);
      for (int frame = 1; frame <= kFrames; ++frame) {
        waitForFrame(frame);
        // The models its GPU thread copied this frame, once it is done with them.
        const int g = s % kGpuThreads;
        while (finished[g].load(std::memory_order_acquire) < frame) std::this_thread::yield();
        {
          std::vector<uint8_t*>& pool = models[g];
          const int start = windowStart(frame, kModelsPerFrame, kModelsPerGpuThread);
          for (int i = 0; i < kCastersPerList; ++i) {
            const uint8_t* transform = pool[start + i] + kModelCurrentWorldOffset;
            std::memcpy(entries + i * kCasterEntrySize + kCasterTransformOffset, &transform, 8);
          }
          const uint64_t count = kCastersPerList;
          std::memcpy(list, &entries, 8);
          std::memcpy(list + 8, &count, 8);
          if (s == 0) shadowCasterProxy0(0, 0, list, 0, 0, 0.0f);
          else shadowCasterProxy1(0, 0, list, 0, 0, 0.0f, 0, 0);
          tally.proxyCalls++;
        }
        finished[kGpuThreads + kPoseThreads + s].fetch_add(1, std::memory_order_release);
      }
    });
  }

  // The frame thread: 240 presented frames per second, 60 samples.
  for (int frame = 1; frame <= kFrames; ++frame) {
    for (auto& f : finished)
      while (f.load(std::memory_order_acquire) < frame - 1) std::this_thread::yield();
    const double presentation = frame / 240.0, sample = (frame / 4) / 60.0;
    std::memcpy(clock + kClockPresentationTimeOffset, &presentation, 8);
    std::memcpy(clock + kClockSampleTimeOffset, &sample, 8);
    const float origin[3] = {static_cast<float>(sample), 1, 2};
    std::memcpy(source + kViewOriginOffset, origin, 12);
    std::memcpy(source + kViewOriginCopyOffset, origin, 12);
    ViewCopyHook(destination, source, 0, 0);
    publishedFrame.store(frame, std::memory_order_release);
    if (frame % 600 == 0) {
      const PresentationFrame published = copyPresentationFrame();
      reportWorldTrackLines(published);
      reportSkeletalTrackLines(published);
    }
  }
  for (std::thread& t : threads) t.join();

  // Every call is accounted for.
  EXPECT_EQ(hostViewCopies.load(), static_cast<uint64_t>(kFrames));
  EXPECT_EQ(tally.gpuCalls.load(), static_cast<uint64_t>(kGpuThreads) * kFrames * kModelsPerFrame);
  EXPECT_EQ(hostGpuCopies.load(), tally.gpuCalls.load());
  EXPECT_EQ(read(counters.world.candidates) - candidatesBefore, tally.gpuCalls.load());
  EXPECT_EQ(read(counters.skeletal.calls) - skeletalCallsBefore, tally.uploadCalls.load());
  EXPECT_GE(hostUploads.load(), tally.uploadCalls.load());
  EXPECT_EQ(read(counters.shadow.proxyCalls) - proxyCallsBefore, tally.proxyCalls.load());
  EXPECT_EQ(hostShadowBuilds.load(), tally.proxyCalls.load());

  // Past capacity: refusals counted, and stale tracks replaced.
  EXPECT_GT(read(counters.world.capacityMiss), 0u);
  EXPECT_GT(read(counters.skeletal.capacityMiss), 0u);
  EXPECT_GT(read(counters.world.adjusted), 0u);
  EXPECT_GT(read(counters.shadow.adjusted), 0u);
  EXPECT_GT(read(counters.skeletal.uploadAdjusted), 0u);

  // The tables agree with the counters: every live track has its own id, no
  // more tracks live than were created, and more were created than fit.
  ExclusiveGuard worldGuard(worldTrackLock);
  std::set<uint64_t> ids;
  size_t live = 0;
  for (const WorldTrack& track : worldTrackTable) {
    if (track.model == nullptr) continue;
    ++live;
    EXPECT_TRUE(ids.insert(track.id).second) << "id " << track.id << " twice";
    EXPECT_LT(track.id, nextWorldTrackId.load());
  }
  const uint64_t created = nextWorldTrackId.load() - 1;
  EXPECT_EQ(read(counters.world.tracks), created);
  EXPECT_LE(live, kWorldTrackCount);
  EXPECT_GT(created, static_cast<uint64_t>(kWorldTrackCount)) << "stale tracks were replaced";

  // The periodic reports fell due and were written.
  const std::vector<std::string> lines = readLogLines();
  size_t worldReports = 0;
  for (const std::string& line : lines)
    worldReports += line.rfind("World", 0) == 0 && line.find("frame=600") != std::string::npos;
  EXPECT_GE(worldReports, 1u);
}
