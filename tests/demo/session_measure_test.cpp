#include "tests/session/session_compare.h"
#include "tests/session/session_measure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::unique_ptr<SessionSummary> emptySummary() {
  auto s = std::make_unique<SessionSummary>();
  std::memset(s.get(), 0, sizeof *s);
  return s;
}

void setRow(SessionSummary& s, const char* name, double meanError, double meanResidual, uint64_t violations = 0) {
  RowFigures* r = summaryRow(s, name);
  ASSERT_NE(r, nullptr);
  r->frames = 100;
  r->positionErrorSum = 100 * meanError;
  r->residualSum = 100 * meanResidual;
  r->violations = violations;
}

std::string compare(const SessionSummary& without, const SessionSummary& with, int* failed) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  *failed = compareSessions(without, with, out);
  std::fclose(out);
  std::string result(text, length);
  std::free(text);
  return result;
}

}  // namespace

TEST(SessionMeasure, CostQuantilesFromTheHistogram) {
  auto h = std::make_unique<CostHistogram>();
  clearCost(*h);
  EXPECT_EQ(costQuantile(*h, 0.5), 0.0);
  for (int i = 1; i <= 100; ++i) addCost(*h, i * 100.0);  // 100 ns .. 10 us
  EXPECT_EQ(costQuantile(*h, 0.5), 5000.0);
  EXPECT_EQ(costQuantile(*h, 0.99), 9900.0);
  addCost(*h, 3.5e6);  // past the fine buckets: to the microsecond
  EXPECT_EQ(costQuantile(*h, 1.0), 3.5e6);
  addCost(*h, 1e12);  // beyond the histogram: counted in its last bucket
  EXPECT_EQ(h->samples, 102u);
  EXPECT_EQ(costQuantile(*h, 1.0), 2e6 + (CostHistogram::kCoarseBuckets - 1) * 1000.0);
}

TEST(SessionMeasure, RowsStepsAndJudder) {
  RowFigures r{};
  addPositionError(r, 1.0);
  addPositionError(r, 3.0);
  addRotationError(r, 0.5);
  addStep(r, 2.0, 1.0);
  addStep(r, 0.0, 1.0);
  EXPECT_EQ(meanPositionError(r), 2.0);
  EXPECT_EQ(r.positionErrorMax, 3.0);
  EXPECT_EQ(meanRotationError(r), 0.25);
  EXPECT_EQ(judderRms(r), 1.0);
}

TEST(SessionMeasure, SummaryRoundTripsThroughItsText) {
  auto s = emptySummary();
  std::strcpy(s->label, "with");
  setRow(*s, "camera-strafe", 0.125, 0.0);
  setRow(*s, "teleport", 1.0 / 3.0, 0.5, 7);
  auto h = std::make_unique<CostHistogram>();
  clearCost(*h);
  addCost(*h, 1234.0);
  setCost(*s, "view-copy", *h);
  addProbes(*s, "gpu-copy", 5, 2);
  addProbes(*s, "gpu-copy", 1, 1);
  EXPECT_EQ(summaryRow(*s, "has space"), nullptr);

  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  ASSERT_TRUE(writeSummary(*s, out));
  std::fclose(out);
  FILE* in = fmemopen(text, length, "r");
  auto back = emptySummary();
  ASSERT_TRUE(readSummary(in, back.get()));
  std::fclose(in);
  std::free(text);
  EXPECT_STREQ(back->label, "with");
  ASSERT_EQ(back->rowCount, 2u);
  EXPECT_EQ(std::memcmp(back->rows, s->rows, 2 * sizeof(RowFigures)), 0);
  double median = 0, p99 = 0;
  ASSERT_TRUE(findCost(*back, "view-copy", &median, &p99));
  EXPECT_EQ(median, 1230.0);
  uint64_t calls = 0, items = 0;
  ASSERT_TRUE(findProbes(*back, "gpu-copy", &calls, &items));
  EXPECT_EQ(calls, 6u);
  EXPECT_EQ(items, 3u);

  const char broken[] = "label x\nrow camera frames 1\n";
  FILE* bad = fmemopen(const_cast<char*>(broken), sizeof broken - 1, "r");
  EXPECT_FALSE(readSummary(bad, back.get()));
  std::fclose(bad);
}

TEST(SessionCompare, BoundsPassAndFailAtTheirEdges) {
  auto without = emptySummary(), with = emptySummary();
  setRow(*without, "camera-strafe", 1.0, 0.0);
  setRow(*with, "camera-strafe", 0.04, 0.0);  // 96%
  setRow(*without, "line", 1.0, 0.0);
  setRow(*with, "line", 0.5 * 1.019, 0.5);  // 1.9% above the residual
  setRow(*without, "teleport", 2.0, 0.0);
  setRow(*with, "teleport", 0.0, 0.0);
  setRow(*with, "arc", 5.0, 0.0);
  // The rows every session with models must have, each just inside its bound.
  setRow(*without, "joint-line", 1.0, 0.0);
  setRow(*with, "joint-line", 0.05, 0.0);  // 95%
  setRow(*without, "shadow-line", 1.0, 0.0);
  setRow(*with, "shadow-line", 0.5 * 0.981, 0.5);
  setRow(*without, "mirrored", 1.0, 0.0);
  setRow(*with, "mirrored", 0.2, 0.0);
  setRow(*without, "scaled", 1.0, 0.0);
  setRow(*with, "scaled", 1.0, 0.0);
  setRow(*without, "sheared", 1.0, 0.0);
  setRow(*with, "sheared", 1.0, 0.0);
  int failed = -1;
  std::string text = compare(*without, *with, &failed);
  EXPECT_EQ(failed, 0) << text;
  EXPECT_NE(text.find("reported arc"), std::string::npos) << text;

  setRow(*with, "camera-strafe", 0.06, 0.0);  // 94%
  setRow(*with, "line", 0.5 * 1.03, 0.5);
  setRow(*with, "teleport", 0.0, 0.0, 1);
  text = compare(*without, *with, &failed);
  EXPECT_EQ(failed, 3) << text;
  EXPECT_NE(text.find("FAIL camera-strafe"), std::string::npos) << text;
  EXPECT_NE(text.find("FAIL line"), std::string::npos) << text;
  EXPECT_NE(text.find("FAIL teleport"), std::string::npos) << text;

  // Every bounded row must be there, except a camera cut.
  auto nothing = emptySummary();
  text = compare(*nothing, *nothing, &failed);
  EXPECT_EQ(failed, 8) << text;
  EXPECT_EQ(text.find("FAIL camera-cut"), std::string::npos) << text;
}
