// Renderer threads copying models and building caster lists while a frame
// thread publishes frames and writes reports: every call is accounted for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "diagnostics/track_reports.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "shadow/caster_list.h"
#include "shadow/publication.h"
#include "shadow/test_seam.h"
#include "tests/support/caster_lists.h"
#include "tests/support/library_dir.h"
#include "tests/support/model_host.h"
#include "world/content_key.h"
#include "world/world_tracks.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::os;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

constexpr int kRendererThreads = 4;
constexpr int kModelsPerThread = 12;
constexpr int kFrames = 120;

struct FrameClock {
  std::atomic<bool> running{true};
  std::atomic<int> passes[kRendererThreads] = {};
  std::thread thread;

  // Frames at 0.004 apart; a new sample every third frame. Each frame waits
  // until every renderer has copied its models at least once since the last.
  void start() {
    thread = std::thread([this] {
      for (int frame = 1; frame <= kFrames; ++frame) {
        for (auto& p : passes) {
          while (p.load() < frame - 1) std::this_thread::yield();
        }
        const double sampleTime = 0.012 * (frame / 3);
        publishCameraCorrection(placementMatrix({0.1 * frame, 0.01 * frame}),
                                placementInverse({0.1 * frame, 0.01 * frame}), true);
        const PresentationFrame published = publishPresentationFrame(0.004 * frame, sampleTime, true);
        if (frame % 20 == 0) {
          char text[kObservedVtablesTextCapacity + 1];
          buildObservedVtablesText(text);
          reportWorldTrackLines(published);
          reportNonRigidTrackLines(published);
        }
        std::this_thread::yield();
      }
      running = false;
    });
  }
};

TEST(RendererThreads, CopiesAreAccountedForWhileFramesArePublished) {
  useModelHost();
  useFreshLibraryDirectory();
  resetTestSettings();
  settings.stabilizeFirstPersonHands = 1;
  settings.worldTransforms = 1;
  settings.shadowTransforms = 1;
  publishPresentationFrame(0.0, 0.0, true);
  publishCameraCorrection(identityMatrix(), identityMatrix(), true);

  const WorldCounters& w = counters.world;
  const uint64_t candidates = read(w.candidates);
  const uint64_t adjusted = read(w.adjusted);
  const uint64_t published = read(counters.shadow.published) + read(counters.shadow.capacityMissPointer);
  const uint64_t hostCalls = gpuCopyCalls.load();
  std::atomic<uint64_t> worldCalls{0}, firstPersonCalls{0}, worldSubstituted{0}, handsSubstituted{0};

  FrameClock clock;
  clock.start();
  std::vector<std::thread> renderers;
  for (int r = 0; r < kRendererThreads; ++r) {
    renderers.emplace_back([&, r] {
      std::vector<uint8_t*> records, blocks;
      for (int m = 0; m < kModelsPerThread; ++m) {
        records.push_back(newStaticRecord());
        blocks.push_back(newModelRefBlock(records.back()));
        if (m == 0) setDepth(records.back(), 25.0f);  // the hands
      }
      while (clock.running.load()) {
        const PresentationFrame frame = copyPresentationFrame();
        for (int m = 0; m < kModelsPerThread; ++m) {
          // Models moving at 10 units per second, each sampled at the frame's time.
          const double x = 100.0 * r + 10.0 * m + 10.0 * frame.sampleTime;
          setWorldMatrices(records[m], {0, x, 1, 2}, {0, x - 0.12, 1, 2});
          void* slot = nullptr;
          GpuCopyHook(&slot, 0, 0.0f, blocks[m]);
          const bool substituted = lastGpuCopyCall().block != blocks[m];
          EXPECT_EQ(slot, records[m]);
          if (m == 0) {
            firstPersonCalls++;
            handsSubstituted += substituted;
          } else {
            worldCalls++;
            worldSubstituted += substituted;
          }
        }
        clock.passes[r]++;
      }
    });
  }
  clock.thread.join();
  for (std::thread& t : renderers) t.join();

  EXPECT_EQ(gpuCopyCalls.load() - hostCalls, worldCalls + firstPersonCalls);
  EXPECT_EQ(handsSubstituted.load(), firstPersonCalls.load()) << "the camera correction is always valid";
  EXPECT_EQ(read(w.candidates) - candidates, worldCalls.load());
  EXPECT_EQ(read(w.adjusted) - adjusted, worldSubstituted.load());
  EXPECT_EQ(read(counters.shadow.published) + read(counters.shadow.capacityMissPointer) - published,
            worldSubstituted.load());
  EXPECT_GT(worldSubstituted.load(), 0u);
}

TEST(RendererThreads, CasterListBuildersAndPublishersAtOnce) {
  useModelHost();
  resetShadowPublicationForTests();
  publishPresentationFrame(1.0, 1.0, true);

  constexpr int kBuilders = 3;
  constexpr int kPublishers = 2;
  constexpr uint32_t kCasters = 64;
  // Every caster transform is published by one publisher with a shift of +1 in x.
  TestCasterList shared = newCasterList(kCasters);
  const Matrix4x4 shift = placementMatrix({0, 1});
  const ShadowCounters& s = counters.shadow;
  const uint64_t calls = read(s.calls);
  const uint64_t outcomes =
      read(s.matchesDirect) + read(s.matchesContent) + read(s.matchesAmbiguous) + read(s.cacheMiss);
  const uint64_t proxyCalls = read(s.proxyCalls);
  std::atomic<bool> running{true};
  std::atomic<uint64_t> builds{0};

  std::vector<std::thread> threads;
  for (int p = 0; p < kPublishers; ++p) {
    threads.emplace_back([&, p] {
      for (int round = 0; round < 200; ++round) {
        for (uint32_t i = p; i < kCasters; i += kPublishers) {
          publishShadowCorrection(shared.transforms[i], contentKey(*shared.transforms[i]), shift,
                                  latestPresentationSerial.load());
        }
        if (p == 0) publishPresentationFrame(1.0 + round, 1.0 + round, true);
      }
      running = false;
    });
  }
  for (int b = 0; b < kBuilders; ++b) {
    threads.emplace_back([&, b] {
      do {
        if (b % 2 == 0) {
          shadowCasterProxy0(0, 0, shared.header, 0, 0, 0.0f);
        } else {
          shadowCasterProxy1(0, 0, shared.header, 0, 0, 0.0f, 0, 0);
        }
        builds++;
        const ShadowBuildCall& call = lastShadowBuildCall();
        ASSERT_EQ(call.transforms.size(), kCasters);
        for (uint32_t i = 0; i < kCasters; ++i) {
          const float x = call.transforms[i].m[3];
          const float own = shared.transforms[i]->m[3];
          EXPECT_TRUE(x == own || std::fabs(x - (own + 1.0f)) < 1e-5f) << i;
        }
      } while (running.load());
    });
  }
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(read(s.proxyCalls) - proxyCalls, builds.load());
  EXPECT_EQ(read(s.calls) - calls, builds.load() * kCasters);
  EXPECT_EQ(read(s.matchesDirect) + read(s.matchesContent) + read(s.matchesAmbiguous) + read(s.cacheMiss) - outcomes,
            builds.load() * kCasters);
}

TEST(RendererThreads, EachThreadHasItsOwnScratch) {
  ShadowScratch* mine = shadowScratchForThisThread();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(shadowScratchForThisThread(), mine);
  ShadowScratch* other = nullptr;
  std::thread([&] { other = shadowScratchForThisThread(); }).join();
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, mine);
  EXPECT_EQ(other->reentry, 0);
}

std::atomic<int> pageRequests{0};
bool slowSlotClaim(uint32_t* index) {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return defaultPlatform().allocateThreadSlot(index);
}
void* noPages(void*, size_t) {
  pageRequests++;
  return nullptr;
}

TEST(RendererThreads, FirstProxyCallsWhileTheSlotIsClaimed) {
  useModelHost();
  resetShadowScratchSlotForTests();
  platform.allocateThreadSlot = slowSlotClaim;
  constexpr int kThreads = 6;
  TestCasterList list = newCasterList(4);
  const uint64_t proxyCalls = read(counters.shadow.proxyCalls);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ready++;
      while (ready.load() < kThreads) {}
      shadowCasterProxy0(0, 0, list.header, 0, 0, 0.0f);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(read(counters.shadow.proxyCalls) - proxyCalls, uint64_t{kThreads}) << "every first call counted";

  // A thread whose scratch cannot be had asks for pages once.
  platform.allocatePages = noPages;
  std::thread([] {
    EXPECT_EQ(shadowScratchForThisThread(), nullptr);
    EXPECT_EQ(shadowScratchForThisThread(), nullptr);
  }).join();
  EXPECT_EQ(pageRequests.load(), 1);
  resetPlatform();
}

}  // namespace
