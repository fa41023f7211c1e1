// corvane-telemetry-reader: follows the camera telemetry of a running game and
// prints one CSV line per new presented frame, or a smoothness summary.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "corvane_version.h"
#include "tools/telemetry-reader/reader_options.h"
#include "tools/telemetry-reader/telemetry_follow.h"
#include "tools/telemetry-reader/telemetry_source.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

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
  // The summary and the reader's own lines go to the console; CSV lines to the
  // console only when they are all it prints.
  FILE* console = options.summary ? stdout : stderr;
  const bool found = options.processId == 0;
  if (found) {
    bool several = false;
    if (!findGameProcess(&options.processId, &several)) {
      std::fprintf(stderr,
                   "No running %s found. Start the game with Corvane installed, or give the game's process id: "
                   "corvane-telemetry-reader <process id>.\n",
                   kGameExecutable);
      return 1;
    }
    std::fprintf(console, "Following %s, process %lu%s.\n", kGameExecutable,
                 static_cast<unsigned long>(options.processId),
                 several ? " (there are several; give --pid to choose another)" : "");
  }
  TelemetrySource source{nullptr, nullptr, nullptr, 0};
  char detail[256] = "";
  switch (openTelemetrySource(options.processId, &source, detail, sizeof detail)) {
    case OpenResult::kOpened: break;
    case OpenResult::kNoSuchBlock:
      if (found)
        std::fprintf(stderr,
                     "%s (process %lu) offers no camera telemetry block. Set Telemetry=1 in the [Diagnostics] "
                     "section of corvane.ini (beside corvane.dll) and restart the game.\n",
                     kGameExecutable, static_cast<unsigned long>(options.processId));
      else
        std::fprintf(stderr,
                     "No camera telemetry block for process %lu. Is the game running with Corvane, and is "
                     "Telemetry=1 set in the [Diagnostics] section of corvane.ini?\n",
                     static_cast<unsigned long>(options.processId));
      return 1;
    case OpenResult::kFailed: std::fprintf(stderr, "corvane-telemetry-reader: %s\n", detail); return 1;
  }
  FILE* csv = options.summary ? nullptr : stdout;
  if (options.csvPath != nullptr) {
    csv = std::fopen(options.csvPath, "w");
    if (csv == nullptr) {
      std::fprintf(stderr, "corvane-telemetry-reader: cannot write %s.\n", options.csvPath);
      closeTelemetrySource(&source);
      return 1;
    }
  }
  if (options.summary)
    std::fprintf(console, "A summary line every second; Ctrl+C ends with a summary of the whole run.\n");
  std::fflush(console);
  std::signal(SIGINT, onInterrupt);
  const int status = followTelemetry(source, options, csv, console, &interrupted);
  if (csv != nullptr && csv != stdout) std::fclose(csv);
  closeTelemetrySource(&source);
  return status;
}
