// Several renderer threads upload skinned palettes through the hook while the
// frame thread publishes frames and writes the skeletal track lines.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "diagnostics/reports.h"
#include "diagnostics/track_reports.h"
#include "patch/hooks.h"
#include "skeletal/skeletal_tracks.h"
#include "skeletal/test_seam.h"
#include "tests/support/library_dir.h"
#include "tests/support/skinned_host.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::skeletal;

namespace {

constexpr int kUploadThreads = 3;
constexpr uint64_t kFrames = 120;

struct Model {
  uint8_t* record;
  Matrix3x4* palette;
  uint32_t padded;
  uint32_t joints;
};

void writePose(Matrix3x4* palette, uint32_t count, double phase) {
  for (uint32_t j = 0; j < count; ++j)
    palette[j] = rigidJoint(0.2, 1.0, 0.1 * j, 5.0 * j + phase, j, phase / 20.0, 1.0);
}

std::vector<Model> makeModels() {
  std::vector<Model> models;
  struct Kind {
    float depth;
    bool ownerless;
    uint32_t joints;
  };
  for (const Kind& k : {Kind{0.0f, false, 20}, Kind{0.5f, false, 9}, Kind{0.0f, true, 16}, Kind{0.0f, true, 65}}) {
    SkinnedRecordShape shape;
    shape.depth = k.depth;
    shape.owner = k.ownerless ? unreadableAddress() : nullptr;
    shape.joints = k.joints;
    shape.padded = (k.joints + 7) & ~7u;
    Model m;
    m.record = newSkinnedRecord(shape, &m.palette);
    m.padded = shape.padded;
    m.joints = shape.joints;
    models.push_back(m);
  }
  return models;
}

TEST(SkeletalRace, UploadThreadsFrameThreadAndTrackReports) {
  setUpSkinnedHost();
  useFreshLibraryDirectory();
  settings = Settings{};
  settings.firstPersonSkeletons = 1;
  settings.worldSkeletons = 1;
  settings.cinematicSkeletons = 1;
  resetSkeletalTablesForTests();
  const uint64_t adjustedBefore = read(counters.skeletal.uploadAdjusted);
  const uint64_t ownerBefore = read(counters.skeletal.rejectedOwner);

  std::atomic<bool> done{false};
  std::atomic<uint64_t> progress[kUploadThreads];
  std::atomic<int> faults{0};
  std::atomic<uint64_t> substituted{0};
  for (auto& p : progress) p.store(0);

  std::vector<std::thread> uploaders;
  for (int t = 0; t < kUploadThreads; ++t) {
    uploaders.emplace_back([&, t] {
      const std::vector<Model> models = makeModels();
      std::vector<Matrix3x4> before(256);
      while (!done.load()) {
        const uint64_t serial = latestPresentationSerial.load();
        const double phase = copyPresentationFrame().sampleTime * 180.0;  // 3 degrees per sample
        for (const Model& m : models) {
          writePose(m.palette, m.padded, phase);
          std::memcpy(before.data(), m.palette, m.padded * sizeof(Matrix3x4));
          setRecordPending(m.record, 1);
          clearUploadLog();
          const uint64_t result = PoseUploadHook(m.record, 3);
          const UploadLog& log = uploadLog();
          bool ok =
              result == 4 && log.accepted == 1 && recordPalette(m.record) == m.palette &&
              std::memcmp(before.data(), m.palette, m.padded * sizeof(Matrix3x4)) == 0 &&
              std::memcmp(&log.received[m.joints], &before[m.joints], (m.padded - m.joints) * sizeof(Matrix3x4)) == 0;
          if (log.paletteSeen[0] != m.palette) substituted.fetch_add(1);
          if (!ok) faults.fetch_add(1);
        }
        progress[t].store(serial);
      }
    });
  }

  for (uint64_t i = 1; i <= kFrames; ++i) {
    const PresentationFrame frame = publishPresentationFrame(i / 240.0 + 0.004, (i / 4) / 60.0, true);
    ReportSkeletalDiagnostics(frame);
    if (i % 40 == 0) {
      reportSkeletalTrackLines(frame);
      reportOwnerlessTrackLines(frame);
    }
    for (auto& p : progress)
      while (p.load() < frame.presentationSerial) std::this_thread::yield();
  }
  done.store(true);
  for (auto& t : uploaders) t.join();

  EXPECT_EQ(faults.load(), 0);
  EXPECT_GT(substituted.load(), 0u);
  EXPECT_EQ(read(counters.skeletal.uploadAdjusted) - adjustedBefore, substituted.load());
  EXPECT_GE(read(counters.skeletal.rejectedOwner) - ownerBefore, kUploadThreads * kFrames);
  bool ownerlessLine = false, skeletalLine = false;
  for (const std::string& line : readLogLines()) {
    ownerlessLine |= line.rfind("Ownerless skeletal track frame=", 0) == 0;
    skeletalLine |= line.rfind("Skeletal track frame=", 0) == 0;
  }
  EXPECT_TRUE(ownerlessLine);
  EXPECT_TRUE(skeletalLine);
}

}  // namespace
