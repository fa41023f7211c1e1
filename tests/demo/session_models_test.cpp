#include "tests/session/session_models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "tests/standin/standin_host.h"
#include "tests/standin/standin_models.h"
#include "tests/support/native_standin.h"

namespace {

SessionScene smallScene() {
  SessionScene s;
  s.worldModels = 12;
  s.hands = 1;
  s.skinned = 2;
  s.joints = 30;
  s.casters = 20;
  return s;
}

// Plays `frames` frames straight into the stand-in (no hooks installed: what
// a session without Corvane sees) and returns the summary.
std::unique_ptr<SessionSummary> play(const SessionScene& scene, uint64_t frames, std::vector<uint8_t>& area,
                                     double* meanLineResidualWithoutCap = nullptr) {
  auto summary = std::make_unique<SessionSummary>();
  std::memset(summary.get(), 0, sizeof *summary);
  double expected = 0;
  uint64_t lineFrames = 0;
  for (uint64_t frame = 0; frame < frames; ++frame) {
    const SessionFrame f = sessionFrame(scene, frame);
    writeSessionModels(frame, f.tick);
    for (size_t i = 0; i < sessionDrawnItems(); ++i) EXPECT_EQ(drawSessionItem(i), kSceneGpuCopyResult + i);
    for (int list = 0; list < 2; ++list) buildSessionShadows(list);
    for (size_t c = 0; c < sessionCharacters(); ++c) EXPECT_EQ(uploadSessionCharacter(c), 0x900 + c + 1);
    measureSessionModels(*summary, f);
    // The game draws the latest sample: a line model is speed x lead behind.
    for (uint32_t i = 0; i < scene.worldModels; i += kWorldModelKindCount) {
      expected += pathSpeed(kPathLine, i, f.sampleTime - kSessionStartTime) * (f.presentationTime - f.sampleTime);
      ++lineFrames;
    }
  }
  if (meanLineResidualWithoutCap != nullptr) *meanLineResidualWithoutCap = expected / lineFrames;
  (void)area;
  return summary;
}

std::vector<uint8_t> areaFor(const SessionScene& scene) { return std::vector<uint8_t>(sessionModelBytes(scene), 0); }

TEST(SessionModels, WithoutCorvaneEveryItemShowsTheLatestSample) {
  ASSERT_NE(useNativeStandInHost(), nullptr);
  const SessionScene scene = smallScene();
  std::vector<uint8_t> area = areaFor(scene);
  ASSERT_TRUE(startSessionModels(scene, area.data(), area.size()));
  double lagged = 0;
  const auto summary = play(scene, 300, area, &lagged);

  for (const char* row : {"line", "arc", "door", "mirrored", "scaled", "sheared", "teleport", "hands", "joint-line",
                          "shadow-line", "shadow-teleport"}) {
    const RowFigures* r = findRow(*summary, row);
    ASSERT_NE(r, nullptr) << row;
    EXPECT_GT(r->frames, 0u) << row;
    EXPECT_EQ(r->violations, 0u) << row << ": the game's own drawing broke a never-rule";
  }
  const RowFigures* line = findRow(*summary, "line");
  EXPECT_NEAR(meanPositionError(*line), lagged, 1e-3 * lagged);
  EXPECT_GT(meanResidual(*line), 0.0);
  EXPECT_LT(meanResidual(*line), meanPositionError(*line));  // the cap leaves less than the whole lag
  // The casters point into the records: their shadows show what the models show.
  EXPECT_NEAR(meanPositionError(*findRow(*summary, "shadow-line")), meanPositionError(*line), 1e-9);
  // Joints and hands lag by their own speed: measured, not zero.
  EXPECT_GT(meanPositionError(*findRow(*summary, "joint-line")), 0.1);
  EXPECT_GT(meanPositionError(*findRow(*summary, "hands")), 0.1);
}

// A renderer that is handed something other than the record the game drew.
uint64_t (*sessionBehaviour)(const GpuCopyCall&) = nullptr;
uint64_t shiftedCopy(const GpuCopyCall& call) {
  alignas(16) static thread_local uint8_t copy[kStandInStaticLength];
  const uint8_t* record;
  std::memcpy(&record, call.block + 8, 8);
  std::memcpy(copy, record, sizeof copy);
  float x;
  std::memcpy(&x, copy + kStandInCurrentSlots[0] + 44, 4);  // z, away from where the truth lies
  x -= 1.0f;
  std::memcpy(copy + kStandInCurrentSlots[0] + 44, &x, 4);
  alignas(16) uint8_t block[16];
  const uint8_t* pointer = copy;
  std::memcpy(block, call.block, 8);
  std::memcpy(block + 8, &pointer, 8);
  GpuCopyCall changed = call;
  changed.block = block;
  return sessionBehaviour(changed);
}

TEST(SessionModels, NeverRulesCountWhatWasNotDrawnAsTheGameDrewIt) {
  ASSERT_NE(useNativeStandInHost(), nullptr);
  SessionScene scene = smallScene();
  scene.skinned = 0;
  std::vector<uint8_t> area = areaFor(scene);
  ASSERT_TRUE(startSessionModels(scene, area.data(), area.size()));
  sessionBehaviour = standInHost.gpuCopyBehaviour;
  standInHost.gpuCopyBehaviour = shiftedCopy;
  const auto summary = play(scene, 300, area);
  const RowFigures* scaled = findRow(*summary, "scaled");
  EXPECT_EQ(scaled->violations, scaled->frames);  // refused, and not shown as drawn: every frame
  EXPECT_EQ(findRow(*summary, "sheared")->violations, findRow(*summary, "sheared")->frames);
  const RowFigures* teleport = findRow(*summary, "teleport");
  EXPECT_GT(teleport->violations, 0u);  // the frames after each jump
  EXPECT_LT(teleport->violations, teleport->frames);
  EXPECT_EQ(findRow(*summary, "mirrored")->violations, findRow(*summary, "mirrored")->frames);  // 1 unit off
}

TEST(SessionModels, ChurnReusesAndRenewsRecordsAndMovesTheCasters) {
  ASSERT_NE(useNativeStandInHost(), nullptr);
  SessionScene scene = smallScene();
  scene.worldModels = 16;
  scene.casters = 32;
  scene.churnEvery = 3;
  std::vector<uint8_t> area = areaFor(scene);
  ASSERT_TRUE(startSessionModels(scene, area.data(), area.size()));
  const auto summary = play(scene, 120, area);
  const SessionChurn churn = sessionChurn();
  EXPECT_EQ(churn.retired, churn.reused + churn.fresh);
  EXPECT_GT(churn.reused, 0u);
  EXPECT_GT(churn.fresh, 0u);
  // A caster left on a retired record would show its frozen matrix.
  EXPECT_NEAR(meanPositionError(*findRow(*summary, "shadow-line")), meanPositionError(*findRow(*summary, "line")),
              1e-9);
  EXPECT_EQ(findRow(*summary, "teleport")->violations, 0u);
}

// The heap layout: records dealt over the regions out of item order; still models shown where they stand.
std::vector<const uint8_t*> drawnRecords;
uint64_t noteRecord(const GpuCopyCall& call) {
  const uint8_t* record;
  std::memcpy(&record, call.block + 8, 8);
  drawnRecords.push_back(record);
  return sessionBehaviour(call);
}

TEST(SessionModels, HeapLayoutScattersRecordsOverItsRegions) {
  ASSERT_NE(useNativeStandInHost(), nullptr);
  SessionScene scene = smallScene();
  scene.worldModels = 28;
  scene.heapRegions = 3;
  scene.still = 0.5;
  std::vector<uint8_t> area = areaFor(scene);
  ASSERT_EQ(area.size(), 3 * sessionRegionBytes(scene));
  ASSERT_TRUE(startSessionModels(scene, area.data(), area.size()));
  sessionBehaviour = standInHost.gpuCopyBehaviour;
  standInHost.gpuCopyBehaviour = noteRecord;
  drawnRecords.clear();
  const auto summary = play(scene, 60, area);
  std::set<size_t> regions;
  size_t ascending = 0;
  for (size_t i = 0; i < sessionDrawnItems(); ++i) {
    regions.insert(static_cast<size_t>(drawnRecords[i] - area.data()) / sessionRegionBytes(scene));
    ascending += i > 0 && drawnRecords[i] > drawnRecords[i - 1];
  }
  EXPECT_EQ(regions.size(), 3u);
  EXPECT_LT(ascending, sessionDrawnItems() - 3);
  const RowFigures* still = findRow(*summary, "still");
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(still->frames, 60u * 14u);
  EXPECT_LT(meanPositionError(*still), 1e-3);
  for (const char* row : {"line", "teleport", "sheared", "shadow-still"}) {
    ASSERT_NE(findRow(*summary, row), nullptr) << row;
    EXPECT_EQ(findRow(*summary, row)->violations, 0u) << row;
  }
}

TEST(SessionModels, RefusesAreasTooSmallAndListsWithoutModels) {
  ASSERT_NE(useNativeStandInHost(), nullptr);
  SessionScene scene = smallScene();
  std::vector<uint8_t> area(sessionModelBytes(scene) - 1);
  EXPECT_FALSE(startSessionModels(scene, area.data(), area.size()));
  scene.worldModels = 0;
  area.assign(sessionModelBytes(scene), 0);
  EXPECT_FALSE(startSessionModels(scene, area.data(), area.size()));
}

}  // namespace
