// Command line of corvane-telemetry-reader.
#pragma once
#include <cstdint>

struct ReaderOptions {
  uint32_t processId;     // 0: look for the running game
  uint64_t frames;        // stop after this many frames (CSV lines); 0: no limit
  double timeoutSeconds;  // stop after this long; 0: no limit
  uint32_t pollMicroseconds;
  bool help;
  bool summary;         // a smoothness line each second on the console
  const char* csvPath;  // CSV lines to this file instead of the console; null: console
};

// False with `error` set when the arguments do not make sense.
bool parseReaderOptions(int argc, const char* const* argv, ReaderOptions* options, const char** error);
extern const char kReaderUsage[];
