#include "tools/telemetry-reader/telemetry_follow.h"

#include <chrono>
#include <thread>

#include "camera/telemetry_access.h"
#include "tools/telemetry-reader/telemetry_csv.h"
#include "tools/telemetry-reader/telemetry_summary.h"

using corvane::camera::kTelemetrySize;
using corvane::camera::kTelemetryVersion;
using corvane::camera::readTelemetrySnapshot;

namespace {

using Clock = std::chrono::steady_clock;

// How often the reader asks whether the game still runs.
constexpr std::chrono::milliseconds kAliveCheck{100};
constexpr std::chrono::seconds kSummaryInterval{1};

enum class Stop { kNone, kDone, kInterrupted, kGameClosed };

struct Follower {
  const TelemetrySource& source;
  const ReaderOptions& options;
  const volatile std::sig_atomic_t* interrupted;
  Clock::time_point start = Clock::now();
  Clock::time_point nextAliveCheck = start + kAliveCheck;

  // Why to stop now, if at all; asked between reads.
  Stop stop() {
    const Clock::time_point now = Clock::now();
    if (options.timeoutSeconds > 0.0 && std::chrono::duration<double>(now - start).count() >= options.timeoutSeconds)
      return Stop::kDone;
    if (interrupted != nullptr && *interrupted != 0) return Stop::kInterrupted;
    if (now >= nextAliveCheck) {
      nextAliveCheck = now + kAliveCheck;
      if (!telemetryGameRunning(source)) return Stop::kGameClosed;
    }
    return Stop::kNone;
  }
  void pause() const { std::this_thread::sleep_for(std::chrono::microseconds(options.pollMicroseconds)); }
};

void printSummary(FILE* console, const char* lead, const SummaryFigures& figures) {
  char line[768];
  if (formatSummaryLine(figures, line, sizeof line)) std::fprintf(console, "%s%s\n", lead, line);
  std::fflush(console);
}

}  // namespace

int followTelemetry(const TelemetrySource& source, const ReaderOptions& options, FILE* csv, FILE* console,
                    const volatile std::sig_atomic_t* interrupted) {
  Follower follower{source, options, interrupted};
  // The first complete record, for its layout. A game stopped mid-write (in a
  // debugger) leaves the sequence odd: the stop conditions still hold.
  TelemetryBlock record;
  Stop stop = Stop::kNone;
  while (!readTelemetrySnapshot(source.block, &record)) {
    if ((stop = follower.stop()) != Stop::kNone) {
      if (stop == Stop::kGameClosed) {
        std::fprintf(console, "The game has closed before its telemetry block held a complete frame.\n");
        return 0;
      }
      std::fprintf(console,
                   "The telemetry block stayed in the middle of a write; no frame was read. Is the game paused "
                   "in a debugger?\n");
      return 1;
    }
    follower.pause();
  }
  if (record.version != kTelemetryVersion || record.size != kTelemetrySize) {
    std::fprintf(console,
                 "The telemetry block has layout version %u and size %u; this reader knows version %u, %u bytes.\n",
                 record.version, record.size, kTelemetryVersion, kTelemetrySize);
    return 1;
  }

  if (csv != nullptr) std::fprintf(csv, "%s\n", kTelemetryCsvHeader);
  SummaryState state;
  startSummary(&state);
  SummaryState* const summary = options.summary ? &state : nullptr;
  Clock::time_point nextLine = follower.start + kSummaryInterval;
  uint64_t frames = 0;
  uint64_t lastSequence = 0;  // 0: nothing written yet
  char line[512];
  while (options.frames == 0 || frames < options.frames) {
    if ((stop = follower.stop()) != Stop::kNone) break;
    if (summary != nullptr && Clock::now() >= nextLine) {
      nextLine += kSummaryInterval;
      printSummary(console, "", takeSummaryInterval(summary));
    }
    if (readTelemetrySnapshot(source.block, &record) && record.sequence != lastSequence) {
      lastSequence = record.sequence;
      ++frames;
      if (summary != nullptr) addSummaryFrame(summary, record);
      if (csv != nullptr && formatTelemetryCsv(record, line, sizeof line)) {
        std::fprintf(csv, "%s\n", line);
        std::fflush(csv);
      }
      continue;
    }
    follower.pause();
  }
  if (stop == Stop::kGameClosed) std::fprintf(console, "The game has closed (its telemetry block is gone).\n");
  if (summary != nullptr) {
    printSummary(console, "Whole run: ", summary->whole);
  }
  std::fflush(console);
  return 0;
}
