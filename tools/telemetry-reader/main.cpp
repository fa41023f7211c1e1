// corvane-telemetry-reader: prints the camera telemetry of a running game, one
// CSV line per new presented frame.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "camera/telemetry_access.h"
#include "corvane_version.h"
#include "tools/telemetry-reader/reader_options.h"
#include "tools/telemetry-reader/telemetry_csv.h"
#include "tools/telemetry-reader/telemetry_source.h"

namespace {

int follow(const TelemetrySource& source, const ReaderOptions& options) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const auto expired = [&] {
    return options.timeoutSeconds > 0.0 &&
           std::chrono::duration<double>(Clock::now() - start).count() >= options.timeoutSeconds;
  };
  std::printf("%s\n", kTelemetryCsvHeader);
  uint64_t printed = 0;
  uint64_t lastSequence = 0;  // 0: nothing written yet
  TelemetryBlock record;
  char line[512];
  while (options.frames == 0 || printed < options.frames) {
    if (expired()) break;
    if (readTelemetrySnapshot(source.block, &record) && record.sequence != lastSequence) {
      lastSequence = record.sequence;
      if (formatTelemetryCsv(record, line, sizeof line)) {
        std::printf("%s\n", line);
        std::fflush(stdout);
        ++printed;
      }
      continue;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(options.pollMicroseconds));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("corvane-telemetry-reader %s\n", CORVANE_VERSION);
    return 0;
  }
  ReaderOptions options;
  const char* error = nullptr;
  if (!parseReaderOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "corvane-telemetry-reader: %s\n", error);
    return 2;
  }
  if (options.help) {
    std::fputs(kReaderUsage, stdout);
    return 0;
  }
  TelemetrySource source{nullptr, nullptr};
  char detail[256] = "";
  switch (openTelemetrySource(options.processId, &source, detail, sizeof detail)) {
    case OpenResult::kOpened:
      break;
    case OpenResult::kNoSuchBlock:
      std::fprintf(stderr,
                   "No camera telemetry block for process %lu. Is the game running with Corvane, and is "
                   "Telemetry=1 set in the [Diagnostics] section of corvane.ini?\n",
                   static_cast<unsigned long>(options.processId));
      return 1;
    case OpenResult::kFailed:
      std::fprintf(stderr, "corvane-telemetry-reader: %s\n", detail);
      return 1;
  }
  TelemetryBlock header;
  while (!readTelemetrySnapshot(source.block, &header)) std::this_thread::yield();
  if (header.version != kTelemetryVersion || header.size != kTelemetrySize) {
    std::fprintf(stderr, "The telemetry block has layout version %u and size %u; this reader knows version %u, %u bytes.\n",
                 header.version, header.size, kTelemetryVersion, kTelemetrySize);
    closeTelemetrySource(&source);
    return 1;
  }
  const int status = follow(source, options);
  closeTelemetrySource(&source);
  return status;
}
