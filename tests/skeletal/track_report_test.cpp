// The skeletal and ownerless skeletal track lines of a due report.
#include <string>

#include "diagnostics/track_reports.h"
#include "tests/skeletal/skeletal_fixture.h"

namespace {

const void* address(uint64_t value) { return reinterpret_cast<const void*>(value); }

class TrackReportTest : public SkeletalTest {
 protected:
  static PresentationFrame reportFrame(uint64_t serial) { return PresentationFrame{5.0, 4.9, serial, true}; }

  static SkeletalTrack& occupy(uint32_t slot, uint64_t id) {
    SkeletalTrack& t = skeletalTracks[slot];
    t.model = address(0x10000 + slot * 0x100);
    t.ownerKey = address(0x20000 + slot * 0x100);
    t.asset = address(0x30000);
    t.palette = address(0x40000);
    t.id = id;
    t.samples = 1;
    t.nonRigidJoint = kNoNonRigidJoint;
    return t;
  }
};

TEST_F(TrackReportTest, SkeletalTrackLineCarriesEveryFigure) {
  SkeletalTrack& t = occupy(9, 77);
  t.firstPerson = true;
  t.cinematic = true;
  t.joints = 30;
  t.padded = 32;
  t.samples = 12;
  t.reportedSamples = 2;
  t.changes = 5;
  t.reportedChanges = 1;
  t.interpolated = 40;
  t.reportedInterpolated = 10;
  t.rigidSamples = 11;
  t.firstSerial = 600;
  t.firstChangeSerial = 610;
  t.lastChangeSerial = 1790;
  t.root[0] = 1.5f;
  t.root[1] = -2.25f;
  t.root[2] = 1000.0f;
  t.rigid = false;
  t.nonRigidJoint = 4;
  t.rowLength[0] = 1.0;
  t.rowLength[1] = 2.123456;
  t.rowLength[2] = 0.5;
  t.maxRowDot = 0.25;
  t.det = -1.0;
  reportSkeletalTrackLines(reportFrame(1800));
  const std::vector<std::string> expected = {
      "Skeletal track frame=1800 scope=firstPerson id=77 model=" + pointerText(t.model) +
      " ownerKey=" + pointerText(t.ownerKey) + " asset=" + pointerText(t.asset) + " palette=" + pointerText(t.palette) +
      " joints=30 padded=32 delta[samples=10 changes=4] interpolated[delta=30 total=40] total[samples=12 "
      "changes=5 rigid=11] serial[first=600 firstChange=610 lastChange=1790] root=(1.500,-2.250,1000.000) "
      "rigid=0 nonRigid[joint=4 rowLength=(1.00000,2.12346,0.50000) maxRowDot=0.250000 det=-1.000000]."};
  EXPECT_EQ(readLogLines(), expected);
  EXPECT_EQ(t.reportedSamples, 12u);
  EXPECT_EQ(t.reportedChanges, 5u);
  EXPECT_EQ(t.reportedInterpolated, 40u);
  // Nothing changed since: no line at all.
  reportSkeletalTrackLines(reportFrame(3000));
  EXPECT_EQ(readLogLines().size(), 1u);
}

TEST_F(TrackReportTest, SkeletalScopesAndTheCarryForward) {
  for (uint32_t i = 0; i < 17; ++i) occupy(100 + i * 3, 1000 + i);
  skeletalTracks[103].cinematic = true;
  skeletalTracks[50].model = address(0x999);  // unchanged: counts equal their baselines
  reportSkeletalTrackLines(reportFrame(600));
  std::vector<std::string> lines = readLogLines();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_NE(lines[0].find("scope=world id=1000 "), std::string::npos);
  EXPECT_NE(lines[1].find("scope=cinematic id=1001 "), std::string::npos);
  EXPECT_NE(lines[15].find(" id=1015 "), std::string::npos);
  EXPECT_EQ(lines[16], "Skeletal track frame=600: reported 16 of 17 changed tracks; remaining tracks carry forward.");
  reportSkeletalTrackLines(reportFrame(1800));
  lines = readLogLines();
  ASSERT_EQ(lines.size(), 18u);  // exactly as many as fit: no closing line
  EXPECT_NE(lines[17].find("frame=1800 scope=world id=1016 "), std::string::npos);
}

TEST_F(TrackReportTest, OwnerlessLinesListChangedContentFirst) {
  for (uint32_t i = 0; i < 18; ++i) {
    OwnerlessTrack& t = ownerlessTracks[20 + i];
    t.model = address(0x50000 + i * 0x40);
    t.asset = address(0x60000);
    t.palette = address(0x70000);
    t.id = 200 + i;
    t.samples = 3;
    t.changes = (i % 6 == 5) ? 2 : 0;  // slots 25, 31 and 37 changed content
    t.firstNonRigidJoint = kNoNonRigidJoint;
    t.rigid = true;
  }
  OwnerlessTrack& first = ownerlessTracks[25];
  first.joints = 65;
  first.padded = 72;
  first.pending = -1;
  first.rigidSamples = 3;
  first.firstSerial = 4;
  first.firstChangeSerial = 8;
  first.lastChangeSerial = 9;
  first.root[0] = 0.25f;
  first.rigid = false;
  first.firstNonRigidJoint = 7;
  reportOwnerlessTrackLines(reportFrame(600));
  const std::vector<std::string> lines = readLogLines();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "Ownerless skeletal track frame=600 id=205 model=" + pointerText(first.model) +
                          " asset=" + pointerText(first.asset) + " palette=" + pointerText(first.palette) +
                          " joints=65 padded=72 pending=-1 delta[samples=3 changes=2] total[samples=3 changes=2 "
                          "rigid=3] serial[first=4 firstChange=8 lastChange=9] root=(0.250,0.000,0.000) rigid=0 "
                          "firstNonRigidJoint=7.");
  EXPECT_NE(lines[1].find(" id=211 "), std::string::npos);
  EXPECT_NE(lines[2].find(" id=217 "), std::string::npos);
  EXPECT_NE(lines[3].find(" id=200 "), std::string::npos);
  EXPECT_NE(lines[15].find(" id=214 "), std::string::npos);
  EXPECT_EQ(lines[16],
            "Ownerless skeletal track frame=600: reported 16 of 18 changed tracks; remaining tracks "
            "carry forward. capacityMiss=" +
                std::to_string(read(sk().ownerlessCapacityMiss)) + ".");
  EXPECT_EQ(ownerlessTracks[37].reportedChanges, 2u);
  EXPECT_EQ(ownerlessTracks[36].reportedSamples, 0u);  // not listed: carries forward
}

}  // namespace
