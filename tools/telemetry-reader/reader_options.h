// Command line of corvane-telemetry-reader.
#pragma once
#include <cstdint>

struct ReaderOptions {
  uint32_t processId;
  uint64_t frames;          // stop after this many lines; 0: no limit
  double timeoutSeconds;    // stop after this long; 0: no limit
  uint32_t pollMicroseconds;
  bool help;
};

// False with `error` set when the arguments do not make sense.
bool parseReaderOptions(int argc, const char* const* argv, ReaderOptions* options, const char** error);
extern const char kReaderUsage[];
