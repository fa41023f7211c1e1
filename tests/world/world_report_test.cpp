// World, non-rigid and observed-vtables report lines: exact text, selection
// order and carry-forward.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bootstrap/host_interface.h"
#include "diagnostics/track_reports.h"
#include "tests/support/library_dir.h"
#include "tests/support/model_host.h"
#include "world/identify_model.h"
#include "world/test_seam.h"
#include "world/world_tracks.h"

using namespace corvane::diagnostics;
using namespace corvane::world;

namespace {

const void* fakeAddress(uint64_t value) { return reinterpret_cast<const void*>(value); }

class WorldReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetWorldTracksForTests();
    useFreshLibraryDirectory();
  }
  // A track in slot `index` with the given counts since its last listing.
  WorldTrack& placeTrack(size_t index, uint64_t motion, uint64_t corrected, bool reflected = false) {
    WorldTrack& t = worldTrackTable[index];
    t.model = fakeAddress(0x10000 + index * 0x100);
    t.ownerKey = fakeAddress(0x20000 + index);
    t.classIdentity = testStaticModelClass();
    t.id = index + 1;
    t.motionCount = motion;
    t.correctedCount = corrected;
    t.reflected = reflected;
    return t;
  }
  PresentationFrame frame{1.0, 1.0, 1800, true};
};

TEST_F(WorldReportTest, WorldTrackLineText) {
  WorldTrack& t = placeTrack(7, 5, 3, true);
  t.asset = fakeAddress(0xA55E7);
  t.classIdentity = testSkinnedModelClass();
  t.id = 42;
  t.reportedMotion = 2;
  t.firstSerial = 11;
  t.firstMotionSerial = 12;
  t.lastMotionSerial = 13;
  t.lastCorrectionSerial = 14;
  t.discontinuities = 2;
  t.currentMatrix = placementMatrix({0, 1.5, -2.25, 1000.0});
  reportWorldTrackLines(frame);
  const auto lines = readLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "World track frame=1800 id=42 model=" + pointerText(t.model) +
                          " owner=" + pointerText(t.ownerKey) + " asset=" + pointerText(t.asset) +
                          " vtableRva=0x1E55008 reflected=1 delta[motion=3 corrected=3] total[motion=5 corrected=3] "
                          "serial[first=11 firstMotion=12 lastMotion=13 lastCorrection=14] discontinuities=2 "
                          "origin=(1.500,-2.250,1000.000).");
  EXPECT_EQ(t.reportedMotion, 5u);
  EXPECT_EQ(t.reportedCorrected, 3u);

  // Listed tracks are unchanged until they count again.
  reportWorldTrackLines(frame);
  EXPECT_EQ(readLogLines().size(), 1u);
}

TEST_F(WorldReportTest, ClassBelowTheImageBaseIsPrintedAbsolute) {
  WorldTrack& t = placeTrack(3, 1, 0);
  t.classIdentity = fakeAddress(0x4321);
  reportWorldTrackLines(frame);
  const auto lines = readLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" vtableRva=0x4321 "), std::string::npos) << lines[0];
}

TEST_F(WorldReportTest, ThreePassSelectionAndCarryForward) {
  // Table order: 11 corrected-only tracks, 4 mirrored tracks that moved and
  // were corrected, 5 tracks that moved without correction, interleaved.
  std::vector<uint64_t> rest, mirrored, movedOnly;
  for (size_t i = 0; i < 20; ++i) {
    const size_t index = 100 + i * 3;
    if (i % 4 == 1 && movedOnly.size() < 5) {
      placeTrack(index, 2, 0);
      movedOnly.push_back(index + 1);
    } else if (i % 4 == 2 && mirrored.size() < 4) {
      placeTrack(index, 1, 1, true);
      mirrored.push_back(index + 1);
    } else {
      placeTrack(index, i % 2, 1, i % 3 == 0);  // corrected, perhaps moved, not both with a mirror
      if (worldTrackTable[index].reflected && worldTrackTable[index].motionCount != 0) {
        worldTrackTable[index].reflected = false;
      }
      rest.push_back(index + 1);
    }
  }
  ASSERT_EQ(movedOnly.size(), 5u);
  ASSERT_EQ(mirrored.size(), 4u);
  ASSERT_EQ(rest.size(), 11u);
  // A changed-but-empty slot never counts.
  worldTrackTable[9000 & kWorldTrackMask].motionCount = 4;

  reportWorldTrackLines(frame);
  auto ids = [](const std::vector<std::string>& lines) {
    std::vector<uint64_t> out;
    for (const std::string& line : lines) {
      unsigned long long id;
      if (std::sscanf(line.c_str(), "World track frame=%*[0-9] id=%llu", &id) == 1) out.push_back(id);
    }
    return out;
  };
  std::vector<std::string> lines = readLogLines();
  ASSERT_EQ(lines.size(), 17u);
  std::vector<uint64_t> expected = movedOnly;
  expected.insert(expected.end(), mirrored.begin(), mirrored.end());
  expected.insert(expected.end(), rest.begin(), rest.begin() + 7);
  EXPECT_EQ(ids(lines), expected);
  EXPECT_EQ(lines[16],
            "World track frame=1800: reported 16 of 20 changed tracks; remaining tracks carry forward to the next "
            "diagnostic window.");

  // The four left over come next time, with no closing line.
  useFreshLibraryDirectory();
  reportWorldTrackLines(frame);
  lines = readLogLines();
  EXPECT_EQ(ids(lines), std::vector<uint64_t>(rest.begin() + 7, rest.end()));
  EXPECT_EQ(lines.size(), 4u);
}

TEST_F(WorldReportTest, NonRigidLinesMeasureTheMatrix) {
  NonRigidTrack& identity = nonRigidTable[10];
  identity.model = fakeAddress(0x5000);
  identity.ownerKey = fakeAddress(0x6000);
  identity.id = 3;
  identity.changeCount = 4;
  identity.reportedChanges = 1;
  identity.currentRigid = false;
  identity.previousRigid = true;
  identity.firstSerial = 7;
  identity.firstChangeSerial = 8;
  identity.lastChangeSerial = 9;
  identity.matrix = placementMatrix({0, 1, 2, 3});
  NonRigidTrack& scaled = nonRigidTable[11];
  scaled = identity;
  scaled.id = 4;
  scaled.matrix = placementMatrix({0, 0, 0, 0, 2.0});
  scaled.matrix.m[15] = 0.5f;
  reportNonRigidTrackLines(frame);
  const auto lines = readLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Non-rigid world track frame=1800 id=3 model=" + pointerText(identity.model) +
                          " owner=" + pointerText(identity.ownerKey) +
                          " deltaChanges=3 totalChanges=4 rigid[current=0 previous=1] serial[first=7 firstChange=8 "
                          "lastChange=9] origin=(1.000,2.000,3.000) rowLength=(1.00000,1.00000,1.00000) "
                          "maxRowDot=0.000000 determinant=1.000000 bottomError=0.000000.");
  EXPECT_NE(lines[1].find(" rowLength=(2.00000,2.00000,2.00000) maxRowDot=0.000000 determinant=8.000000 "
                          "bottomError=0.500000."),
            std::string::npos)
      << lines[1];
  EXPECT_EQ(identity.reportedChanges, 4u);
}

TEST_F(WorldReportTest, NonRigidLinesCarryForwardBeyondEight) {
  for (size_t i = 0; i < 9; ++i) {
    NonRigidTrack& t = nonRigidTable[i * 7];
    t.model = fakeAddress(0x7000 + i * 0x10);
    t.id = i + 1;
    t.changeCount = 1;
    t.matrix = identityMatrix();
  }
  reportNonRigidTrackLines(frame);
  auto lines = readLogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[8],
            "Non-rigid world track frame=1800: reported 8 of 9 changed tracks; remaining tracks carry forward.");
  useFreshLibraryDirectory();
  reportNonRigidTrackLines(frame);
  lines = readLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" id=9 "), std::string::npos);
}

TEST(ObservedVtablesText, OccupiedEntriesInTableOrder) {
  resetObservedVtablesForTests();
  char text[kObservedVtablesTextCapacity + 1];
  buildObservedVtablesText(text);
  EXPECT_STREQ(text, "");
  observedVtables[4].vtableRva = 0x77;
  observedVtables[4].count = 1;
  observedVtables[1].vtableRva = 0x1E55408;
  observedVtables[1].count = 3;
  buildObservedVtablesText(text);
  EXPECT_STREQ(text, "0x1E55408:3,0x77:1");
  for (auto& entry : observedVtables) {
    entry.vtableRva = 0xFFFFFFFFFFFFFFFFull;
    entry.count = 0xFFFFFFFFFFFFFFFFull;
  }
  buildObservedVtablesText(text);
  EXPECT_EQ(std::strlen(text), 8 * std::strlen("0xFFFFFFFFFFFFFFFF:18446744073709551615") + 7);
  resetObservedVtablesForTests();
}

}  // namespace
