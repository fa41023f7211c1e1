// corvane-telemetry-reader's parts: its command line, its CSV lines, and the
// block name it opens, against a block created the way the library creates it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>

#include "bootstrap/install.h"
#include "platform/platform.h"
#include "tools/telemetry-reader/reader_options.h"
#include "tools/telemetry-reader/telemetry_csv.h"
#include "tools/telemetry-reader/telemetry_source.h"

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
  ASSERT_TRUE(parse({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);
}

TEST(TelemetryReaderOptions, RefusesWhatItCannotUse) {
  ReaderOptions o;
  const char* error = nullptr;
  EXPECT_FALSE(parse({}, &o, &error));
  EXPECT_FALSE(parse({"12", "--frames"}, &o, &error));
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

}  // namespace
