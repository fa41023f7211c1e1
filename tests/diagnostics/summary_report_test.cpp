// The periodic summary reports: when they are due and what their lines say.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "diagnostics/report_schedule.h"
#include "diagnostics/reports.h"
#include "diagnostics/test_seam.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::diagnostics;
using namespace corvane::os;

namespace {

using Lines = std::vector<std::string>;

const char kWorldZeros[] =
    "World diagnostics frame=%llu: candidates=0, exactStatic=0, exactSkinned=0, eligible=0, supported=0, "
    "uniformScaled=0, reflected[supported=0 moving=0 adjusted=0], moving=0, tracks=0, pairs=0, adjusted=0(skinned=0), "
    "rejected[vtable=0 depth=0 owner=0 nonRigid=0(current=0 previous=0) discontinuity=0 sameTime=0 jump=0 "
    "reflectionParity=0], capacityMiss=0 nonRigidCapacityMiss=0, observedVtables=[].";
const char kCinematicZeros[] = "World cinematic frame=%llu: eligible=0 adjusted=0.";
const char kShadowZeros[] =
    "Shadow transform frame=%llu: calls=0 published=0 matches[direct=0 content=0 ambiguous=0] adjusted=0 "
    "cacheMiss=0 unreadable=0 proxy[calls=0 lists=0 capacityMiss=0] capacityMiss[pointer=0 content=0].";
const char kSkeletalZeros[] =
    "Skeletal diagnostics frame=%llu: calls=0 exactSkinned=0 eligible[world=0 firstPerson=0] pending=0 "
    "timeSamples=0 changed=0 palettes[rigid=0 nonRigid=0] tracks=0 pairs=0 upload[prepared=0 adjusted=0 forced=0 "
    "skipped=0 forceFailed=0 frames=0 sameFrame=0 changed=0 repeated=0 gap1=0 gap2=0 gapMore=0 alpha=0/0/0/0/0] "
    "discontinuity=0 interpolationRejected=0 rejected[firstPersonDisabled=0 depthHack=0 owner=0 layout=0 "
    "sameTime=0] ownerFallback[firstPerson=0] capacityMiss=0.";
const char kScopeZeros[] =
    "Skeletal scope frame=%llu: pairs[world=0 firstPerson=0] prepared[world=0 firstPerson=0] adjusted[world=0 "
    "firstPerson=0] forced[world=0 firstPerson=0] firstPersonOutput[frames=0 changed=0 repeated=0 gap1=0 gap2=0 "
    "gapMore=0].";
const char kSkeletalCinematicZeros[] =
    "Skeletal cinematic frame=%llu: eligible=0 pairs=0 prepared=0 adjusted=0 forced=0 frames=0.";

std::string at(const char* format, unsigned long long serial) {
  char text[2048];
  std::snprintf(text, sizeof text, format, serial);
  return text;
}

PresentationFrame frameAt(uint64_t serial, bool timesValid = true) {
  return PresentationFrame{double(serial) / 120.0, double(serial) / 60.0, serial, timesValid};
}

// Gives the counters from `first` to `last`, in the order they are declared,
// the values n, n + 1, ...: each key of a line then shows which counter it prints.
void numberCounters(Counter* first, Counter* last, uint64_t n) {
  for (Counter* c = first; c <= last; ++c) c->fetch_add(n++);
}

class SummaryReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useFreshLibraryDirectory();
    settings = Settings{};
    resetReportSchedulesForTests();
    resetCountersForTests();
  }
  void TearDown() override {
    settings = Settings{};
    resetPlatform();
  }
  void runFrames(uint64_t first, uint64_t last) {
    for (uint64_t serial = first; serial <= last; ++serial) {
      const PresentationFrame frame = frameAt(serial);
      ReportWorldDiagnostics(frame);
      ReportSkeletalDiagnostics(frame);
    }
  }
};

TEST_F(SummaryReportTest, ReportsComeAtSerials600And1800And3000WithZerosShown) {
  settings.worldTransforms = 1;
  settings.shadowTransforms = 1;
  settings.firstPersonSkeletons = 1;
  runFrames(1, 3599);
  Lines expected;
  for (unsigned long long serial : {600ull, 1800ull, 3000ull}) {
    expected.push_back(at(kWorldZeros, serial));
    expected.push_back(at(kCinematicZeros, serial));
    expected.push_back(at(kShadowZeros, serial));
    expected.push_back(at(kSkeletalZeros, serial));
    expected.push_back(at(kScopeZeros, serial));
    expected.push_back(at(kSkeletalCinematicZeros, serial));
  }
  EXPECT_EQ(readLogLines(), expected);
}

TEST_F(SummaryReportTest, OnlyCinematicSwitchesStillGiveTheWholeReports) {
  settings.cinematicTransforms = 1;
  settings.cinematicSkeletons = 1;
  runFrames(590, 610);
  const Lines expected = {at(kWorldZeros, 600), at(kCinematicZeros, 600), at(kSkeletalZeros, 600), at(kScopeZeros, 600),
                          at(kSkeletalCinematicZeros, 600)};
  EXPECT_EQ(readLogLines(), expected);
}

TEST_F(SummaryReportTest, EachSkeletalSwitchAloneEnablesTheSkeletalReport) {
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(which);
    useFreshLibraryDirectory();
    resetReportSchedulesForTests();
    settings = Settings{};
    (which == 0   ? settings.firstPersonSkeletons
     : which == 1 ? settings.worldSkeletons
                  : settings.cinematicSkeletons) = 1;
    runFrames(600, 600);
    const Lines expected = {at(kSkeletalZeros, 600), at(kScopeZeros, 600), at(kSkeletalCinematicZeros, 600)};
    EXPECT_EQ(readLogLines(), expected);
  }
}

TEST_F(SummaryReportTest, NothingSwitchedOnLogsNothing) {
  settings.shadowTransforms = 1;  // without world or cinematic transforms there is no world report
  settings.stabilizeFirstPersonHands = 1;
  settings.telemetry = 1;
  runFrames(1, 3000);
  EXPECT_TRUE(readLogLines().empty());
}

TEST_F(SummaryReportTest, ADueReportWaitsForValidTimesAndTheNextIsDue1200Later) {
  settings.worldTransforms = 1;
  ReportWorldDiagnostics(frameAt(600, false));
  EXPECT_TRUE(readLogLines().empty());
  ReportWorldDiagnostics(frameAt(601));
  ReportWorldDiagnostics(frameAt(1800));
  ReportWorldDiagnostics(frameAt(1801, false));
  ReportWorldDiagnostics(frameAt(1802, false));
  ReportWorldDiagnostics(frameAt(1803));
  const Lines expected = {at(kWorldZeros, 601), at(kCinematicZeros, 601), at(kWorldZeros, 1803),
                          at(kCinematicZeros, 1803)};
  EXPECT_EQ(readLogLines(), expected);
  EXPECT_EQ(nextWorldReport.load(), 3003u);
  EXPECT_EQ(nextSkeletalReport.load(), 600u);
}

TEST_F(SummaryReportTest, TheTwoSchedulesAreIndependent) {
  settings.worldTransforms = 1;
  settings.worldSkeletons = 1;
  ReportSkeletalDiagnostics(frameAt(700));
  ReportWorldDiagnostics(frameAt(650));
  EXPECT_EQ(nextSkeletalReport.load(), 1900u);
  EXPECT_EQ(nextWorldReport.load(), 1850u);
}

TEST_F(SummaryReportTest, WorldKeysShowTheirOwnCounters) {
  settings.worldTransforms = 1;
  settings.shadowTransforms = 1;
  numberCounters(&counters.world.candidates, &counters.world.cinematicAdjusted, 1);
  numberCounters(&counters.shadow.calls, &counters.shadow.capacityMissContent, 29);
  runFrames(600, 600);
  const Lines expected = {
      "World diagnostics frame=600: candidates=1, exactStatic=2, exactSkinned=3, eligible=4, supported=5, "
      "uniformScaled=6, reflected[supported=7 moving=8 adjusted=9], moving=10, tracks=11, pairs=12, "
      "adjusted=13(skinned=14), rejected[vtable=15 depth=16 owner=17 nonRigid=18(current=19 previous=20) "
      "discontinuity=21 sameTime=22 jump=23 reflectionParity=24], capacityMiss=25 nonRigidCapacityMiss=26, "
      "observedVtables=[].",
      "World cinematic frame=600: eligible=27 adjusted=28.",
      "Shadow transform frame=600: calls=29 published=30 matches[direct=31 content=32 ambiguous=33] adjusted=34 "
      "cacheMiss=35 unreadable=36 proxy[calls=37 lists=38 capacityMiss=39] capacityMiss[pointer=40 content=41]."};
  EXPECT_EQ(readLogLines(), expected);
}

TEST_F(SummaryReportTest, SkeletalKeysShowTheirOwnCounters) {
  settings.worldSkeletons = 1;
  numberCounters(&counters.skeletal.calls, &counters.skeletal.cinematicFrames, 101);
  runFrames(600, 600);
  const Lines expected = {
      "Skeletal diagnostics frame=600: calls=101 exactSkinned=102 eligible[world=103 firstPerson=104] pending=105 "
      "timeSamples=106 changed=107 palettes[rigid=108 nonRigid=109] tracks=110 pairs=111 upload[prepared=112 "
      "adjusted=113 forced=114 skipped=115 forceFailed=116 frames=117 sameFrame=118 changed=119 repeated=120 "
      "gap1=121 gap2=122 gapMore=123 alpha=124/125/126/127/128] discontinuity=129 interpolationRejected=130 "
      "rejected[firstPersonDisabled=131 depthHack=132 owner=133 layout=134 sameTime=135] "
      "ownerFallback[firstPerson=136] capacityMiss=137.",
      "Skeletal scope frame=600: pairs[world=138 firstPerson=139] prepared[world=140 firstPerson=141] "
      "adjusted[world=142 firstPerson=143] forced[world=144 firstPerson=145] firstPersonOutput[frames=146 "
      "changed=147 repeated=148 gap1=149 gap2=150 gapMore=151].",
      "Skeletal cinematic frame=600: eligible=152 pairs=153 prepared=154 adjusted=155 forced=156 frames=157."};
  EXPECT_EQ(readLogLines(), expected);
}

}  // namespace
