// corvane-telemetry-reader's parts: its command line, its CSV lines, and the
// block name it opens, against a block created the way the library creates it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <future>
#include <string>
#include <vector>
#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>

#include "bootstrap/install.h"
#include "platform/platform.h"
#include "tools/telemetry-reader/reader_options.h"
#include "tools/telemetry-reader/telemetry_csv.h"
#include "tools/telemetry-reader/telemetry_follow.h"
#include "tools/telemetry-reader/telemetry_source.h"
#include "tools/telemetry-reader/telemetry_summary.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::os;

namespace {

bool parse(std::initializer_list<const char*> args, ReaderOptions* options, const char** error) {
  const char* argv[16] = {"corvane-telemetry-reader"};
  int argc = 1;
  for (const char* a : args) argv[argc++] = a;
  return parseReaderOptions(argc, argv, options, error);
}

TEST(TelemetryReaderOptions, AcceptsProcessIdAndStopConditions) {
  ReaderOptions o;
  const char* error = nullptr;
  ASSERT_TRUE(parse({"4242", "--frames", "10", "--timeout", "2.5", "--poll", "100"}, &o, &error));
  EXPECT_EQ(o.processId, 4242u);
  EXPECT_EQ(o.frames, 10u);
  EXPECT_EQ(o.timeoutSeconds, 2.5);
  EXPECT_EQ(o.pollMicroseconds, 100u);
  ASSERT_TRUE(parse({"--summary", "--csv", "frames.csv", "--seconds", "3", "--pid", "7"}, &o, &error));
  EXPECT_TRUE(o.summary);
  EXPECT_STREQ(o.csvPath, "frames.csv");
  EXPECT_EQ(o.timeoutSeconds, 3.0);
  EXPECT_EQ(o.processId, 7u);
  ASSERT_TRUE(parse({}, &o, &error));  // no process id: look for the game
  EXPECT_EQ(o.processId, 0u);
  ASSERT_TRUE(parse({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);
}

TEST(TelemetryReaderOptions, RefusesWhatItCannotUse) {
  ReaderOptions o;
  const char* error = nullptr;
  EXPECT_FALSE(parse({"12", "--frames"}, &o, &error));
  EXPECT_FALSE(parse({"--csv"}, &o, &error));
  EXPECT_FALSE(parse({"12", "--pid", "13"}, &o, &error));
  EXPECT_FALSE(parse({"12", "--frames", "-3"}, &o, &error));
  EXPECT_FALSE(parse({"12", "--timeout", "nan"}, &o, &error));
  EXPECT_FALSE(parse({"12", "--timeout", "-1"}, &o, &error));
  EXPECT_FALSE(parse({"99999999999"}, &o, &error));
  EXPECT_FALSE(parse({"12", "13"}, &o, &error));
  EXPECT_FALSE(parse({"12x"}, &o, &error));
}

TEST(TelemetryReaderCsv, OneLinePerRecordWithTheHeaderColumns) {
  TelemetryBlock r{};
  r.sequence = 84;
  r.enabled = 1;
  r.modified = 1;
  r.presentationTime = 12.5;
  r.sampleTime = 12.25;
  r.alpha = NAN;
  const float source[3] = {1.5f, -2.0f, 0.1f};
  const float output[3] = {1.75f, -2.0f, -0.0f};
  std::memcpy(r.sourceOrigin, source, sizeof source);
  std::memcpy(r.outputOrigin, output, sizeof output);
  char line[512];
  ASSERT_TRUE(formatTelemetryCsv(r, line, sizeof line));
  EXPECT_STREQ(line, "84,1,1,12.5,12.25,nan,1.5,-2,0.1,1.75,-2,-0");
  // As many columns as the header names.
  const auto columns = [](const char* text) { return 1 + std::count(text, text + std::strlen(text), ','); };
  EXPECT_EQ(columns(line), columns(kTelemetryCsvHeader));
  char tiny[10];
  EXPECT_FALSE(formatTelemetryCsv(r, tiny, sizeof tiny));
}

// A recorded camera: 144 fps presented, 60 Hz simulated, moving in a line; the
// game's camera holds each sample, the presented one is on the line at the
// presentation time (or equals the game's, as with F10 off).
enum Twist { kPlain, kPresentedIsSource, kF10OffAt100, kClockBackAt200, kMissed300To302, kCutAtTick150 };
constexpr double kFps = 144.0, kHz = 60.0;
constexpr int kRecordedFrames = 720;

std::vector<TelemetryBlock> record(Twist twist, uint64_t* repeatsInGame) {
  std::vector<TelemetryBlock> frames;
  *repeatsInGame = 0;
  double clockBase = 20.0;
  for (int k = 0; k < kRecordedFrames; ++k) {
    if (twist == kClockBackAt200 && k == 200) clockBase -= 1.0;
    const uint64_t tick = static_cast<uint64_t>(k) * 60 / 144;
    if (k > 0 && tick == static_cast<uint64_t>(k - 1) * 60 / 144) ++*repeatsInGame;
    TelemetryBlock r{};
    r.sequence = 2 * (k + 1);
    r.version = kTelemetryVersion;
    r.size = kTelemetrySize;
    r.enabled = !(twist == kF10OffAt100 && k >= 100 && k < 150);
    r.presentationTime = clockBase + k / kFps;
    r.sampleTime = clockBase + tick / kHz;
    r.alpha = 1.0 + (r.presentationTime - r.sampleTime) * kHz;
    const double cut = twist == kCutAtTick150 && tick >= 150 ? 40.0 : 0.0;
    for (int i = 0; i < 3; ++i) {
      const double v = 3.5 - 2.0 * i;
      r.sourceOrigin[i] = static_cast<float>(100.0 + cut + v * tick / kHz);
      r.outputOrigin[i] = twist == kPresentedIsSource || !r.enabled ? r.sourceOrigin[i]
                                                                    : static_cast<float>(100.0 + cut + v * k / kFps);
    }
    if (twist == kMissed300To302 && k >= 300 && k <= 302) continue;
    frames.push_back(r);
  }
  return frames;
}

TEST(TelemetryReaderSummary, RatesRepeatsAndIrregularityOfRecordedSequences) {
  struct Row {
    Twist twist;
    uint64_t f10Off, badClock, missed, still;  // still: before the game's first new sample shows motion
    bool cut;
  };
  const Row rows[] = {{kPlain, 0, 0, 0, 0, false},          {kPresentedIsSource, 0, 0, 0, 2, false},
                      {kF10OffAt100, 50, 0, 0, 0, false},   {kClockBackAt200, 0, 1, 0, 0, false},
                      {kMissed300To302, 0, 0, 3, 0, false}, {kCutAtTick150, 0, 0, 0, 0, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.twist);
    uint64_t repeatsInGame = 0;
    SummaryState s;
    startSummary(&s);
    for (const TelemetryBlock& r : record(row.twist, &repeatsInGame)) addSummaryFrame(&s, r);
    const SummaryFigures f = s.whole;
    EXPECT_NEAR(f.frames / f.clockSeconds, kFps, kFps * 1e-9);
    EXPECT_NEAR(f.samples / f.clockSeconds, kHz, kHz * 0.01);
    EXPECT_EQ(f.f10Off, row.f10Off);
    EXPECT_EQ(f.badClock, row.badClock);
    EXPECT_EQ(f.missed, row.missed);
    EXPECT_EQ(f.cut > 0, row.cut);
    EXPECT_EQ(f.still, row.still);
    EXPECT_EQ(f.measured + f.f10Off + f.badClock + f.cut + f.still + (row.missed ? row.missed + 1 : 0),
              kRecordedFrames - 1u);
    EXPECT_EQ(f.interpolated, f.measured);
    // The game repeats its camera on the frames without a new sample.
    EXPECT_NEAR(static_cast<double>(f.repeatedSource) / f.measured,
                static_cast<double>(repeatsInGame) / (kRecordedFrames - 1), 0.01);
    const double source = summaryIrregularity(f.irregularSteps, f.irregularSource);
    const double presented = summaryIrregularity(f.irregularSteps, f.irregularPresented);
    EXPECT_GT(f.irregularSteps, kRecordedFrames / 2u);
    if (row.twist == kPresentedIsSource) {
      EXPECT_EQ(f.repeatedPresented, f.repeatedSource);
      EXPECT_EQ(presented, source);
    } else {
      EXPECT_EQ(f.repeatedPresented, 0u);
      EXPECT_LT(presented, 0.01 * source);
    }
    char line[768];
    ASSERT_TRUE(formatSummaryLine(f, line, sizeof line));
    EXPECT_NE(std::strstr(line, "fps presented"), nullptr) << line;
  }
}

TEST(TelemetryReaderSource, MissingBlockIsReportedAsSuch) {
  TelemetrySource s{nullptr, nullptr};
  char detail[128] = "";
  // A process id that no test creates a block for.
  EXPECT_EQ(openTelemetrySource(0xFFFFFFF0u, &s, detail, sizeof detail), OpenResult::kNoSuchBlock);
}

TEST(TelemetryReaderSource, OpensTheBlockTheLibraryCreatesForAProcess) {
  const uint32_t pid = 3000000000u + static_cast<uint32_t>(getpid());
  wchar_t name[kMappingNameCapacity];
  formatTelemetryMappingName(pid, name);
  uint32_t error = 0;
  void* mapping = platform.createSharedMapping(name, kTelemetrySize, &error);
  ASSERT_NE(mapping, nullptr) << error;
  auto* block = static_cast<TelemetryBlock*>(platform.mapSharedView(mapping, kTelemetrySize, &error));
  ASSERT_NE(block, nullptr);
  block->version = kTelemetryVersion;
  block->size = kTelemetrySize;
  block->sequence = 6;
  block->alpha = 0.75;

  TelemetrySource s{nullptr, nullptr};
  char detail[128] = "";
  ASSERT_EQ(openTelemetrySource(pid, &s, detail, sizeof detail), OpenResult::kOpened) << detail;
  EXPECT_EQ(s.block->sequence, 6u);
  EXPECT_EQ(s.block->size, kTelemetrySize);
  EXPECT_EQ(s.block->alpha, 0.75);
  closeTelemetrySource(&s);
  platform.closeSharedMapping(mapping);
  char narrow[64];
  std::snprintf(narrow, sizeof narrow, "/Local_CorvaneTelemetry-%u", pid);
  shm_unlink(narrow);
}

// A block of the kind the library creates, for a process id no game has.
struct TestBlock {
  uint32_t pid = 3100000000u + static_cast<uint32_t>(getpid());
  void* mapping = nullptr;
  TelemetryBlock* block = nullptr;
  TelemetrySource source{nullptr, nullptr, nullptr, 0};
  char name[64];
  TestBlock() {
    wchar_t wide[kMappingNameCapacity];
    formatTelemetryMappingName(pid, wide);
    uint32_t error = 0;
    mapping = platform.createSharedMapping(wide, kTelemetrySize, &error);
    block = static_cast<TelemetryBlock*>(platform.mapSharedView(mapping, kTelemetrySize, &error));
    std::snprintf(name, sizeof name, "/Local_CorvaneTelemetry-%u", pid);
    char detail[128];
    EXPECT_EQ(openTelemetrySource(pid, &source, detail, sizeof detail), OpenResult::kOpened);
  }
  ~TestBlock() {
    closeTelemetrySource(&source);
    platform.closeSharedMapping(mapping);
    shm_unlink(name);
  }
};

std::string readAll(FILE* file) {
  std::string text(4096, 0);
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  return text;
}

TEST(TelemetryReaderFollow, AGameStoppedMidWriteEndsAtTheTimeout) {
  TestBlock b;
  b.block->sequence = 7;  // odd: a write that never finishes
  ReaderOptions options{b.pid, 0, 0.2, 100, false, true, nullptr};
  FILE* console = std::tmpfile();
  auto run =
      std::async(std::launch::async, [&] { return followTelemetry(b.source, options, nullptr, console, nullptr); });
  if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "followTelemetry ignored its timeout\n");
    std::_Exit(1);
  }
  EXPECT_EQ(run.get(), 1);
  EXPECT_NE(readAll(console).find("stayed in the middle of a write"), std::string::npos);
  std::fclose(console);
}

TEST(TelemetryReaderFollow, TheGameClosingEndsWithTheWholeRunAndZero) {
  TestBlock b;
  const std::vector<TelemetryBlock> frames = [] {
    uint64_t repeats;
    return record(kPlain, &repeats);
  }();
  *b.block = frames[0];
  shm_unlink(b.name);  // the game has gone; its last frame stays readable
  ReaderOptions options{b.pid, 0, 5.0, 100, false, true, nullptr};
  FILE* console = std::tmpfile();
  FILE* csv = std::tmpfile();
  EXPECT_EQ(followTelemetry(b.source, options, csv, console, nullptr), 0);
  const std::string text = readAll(console);
  EXPECT_NE(text.find("The game has closed"), std::string::npos) << text;
  EXPECT_NE(text.find("Whole run: no frames with a running clock"), std::string::npos) << text;
  EXPECT_EQ(readAll(csv), std::string(kTelemetryCsvHeader) + "\n2,1,0,20,20,1,100,100,100,100,100,100\n");
  std::fclose(console);
  std::fclose(csv);
}

}  // namespace
