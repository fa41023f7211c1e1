#include "tools/telemetry-reader/reader_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char kReaderUsage[] =
    "Usage: corvane-telemetry-reader <process id> [--frames N] [--timeout SECONDS] [--poll MICROSECONDS]\n"
    "\n"
    "Follows the camera telemetry block of a game process running Corvane with\n"
    "Telemetry=1 in the [Diagnostics] section of corvane.ini, and prints one CSV line\n"
    "for every new presented frame it sees. Without --frames or --timeout it runs\n"
    "until interrupted.\n"
    "\n"
    "Options:\n"
    "  --frames N         stop after N lines\n"
    "  --timeout SECONDS  stop after this many seconds (fractions allowed)\n"
    "  --poll US          wait between reads, in microseconds (default 500)\n"
    "  --help             this text\n"
    "  --version          the reader's version\n"
    "\n"
    "Columns:\n"
    "  sequence           write counter of the block; +2 per frame, so a larger step\n"
    "                     means frames were presented between two reads\n"
    "  enabled            1 while the high-FPS camera is on (F10), else 0\n"
    "  modified           1 when the presented view differs from the game's view\n"
    "  presentationTime   the game clock of the frame being presented\n"
    "  sampleTime         the game clock of the latest simulation state\n"
    "                     (both nan when the game's clock was not available)\n"
    "  alpha              interpolation fraction between the last two samples,\n"
    "                     -0.25 to 2.0 (1 = latest sample, above 1 = extrapolated);\n"
    "                     nan when the camera was not interpolated this frame\n"
    "  sourceX,Y,Z        camera origin as the game computed it\n"
    "  outputX,Y,Z        camera origin as presented\n";

namespace {

bool parseUnsigned(const char* text, uint64_t limit, uint64_t* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != 0 || value > limit) return false;
  *out = value;
  return true;
}

}  // namespace

bool parseReaderOptions(int argc, const char* const* argv, ReaderOptions* options, const char** error) {
  *options = ReaderOptions{0, 0, 0.0, 500, false};
  bool havePid = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    uint64_t number = 0;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0) {
      options->help = true;
      return true;
    } else if (std::strcmp(arg, "--frames") == 0) {
      if (!parseUnsigned(value, UINT64_MAX, &number)) return *error = "--frames needs a whole number", false;
      options->frames = number;
      ++i;
    } else if (std::strcmp(arg, "--timeout") == 0) {
      char* end = nullptr;
      const double seconds = value ? std::strtod(value, &end) : -1.0;
      if (value == nullptr || *end != 0 || !(seconds >= 0.0) || !std::isfinite(seconds))
        return *error = "--timeout needs a number of seconds", false;
      options->timeoutSeconds = seconds;
      ++i;
    } else if (std::strcmp(arg, "--poll") == 0) {
      if (!parseUnsigned(value, 10000000, &number)) return *error = "--poll needs microseconds (at most 10000000)", false;
      options->pollMicroseconds = static_cast<uint32_t>(number);
      ++i;
    } else if (!havePid && parseUnsigned(arg, UINT32_MAX, &number)) {
      options->processId = static_cast<uint32_t>(number);
      havePid = true;
    } else {
      return *error = "unexpected argument (see --help)", false;
    }
  }
  if (!havePid) return *error = "the game's process id is missing (see --help)", false;
  return true;
}
