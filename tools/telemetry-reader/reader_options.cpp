#include "tools/telemetry-reader/reader_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char kReaderUsage[] =
    "Usage: corvane-telemetry-reader [<process id> | --pid ID] [--summary] [--csv FILE]\n"
    "                                [--seconds S] [--frames N] [--poll MICROSECONDS]\n"
    "\n"
    "Follows the camera telemetry block of a game process running Corvane with\n"
    "Telemetry=1 in the [Diagnostics] section of corvane.ini. Without a process id\n"
    "it looks for a running Dishonored2.exe.\n"
    "\n"
    "By default it prints one CSV line for every new presented frame it sees.\n"
    "With --summary it prints instead, once a second, one line on how smooth the\n"
    "camera is, and at the end (--seconds, --frames, Ctrl+C, or the game closing)\n"
    "a closing summary of the whole run. --summary --csv FILE does both: the CSV\n"
    "lines go to FILE, the summary to the console. Without --seconds or --frames\n"
    "it runs until interrupted or until the game closes.\n"
    "\n"
    "Options:\n"
    "  --pid ID           the game's process id (the same as giving it alone)\n"
    "  --summary          a smoothness summary on the console (see below)\n"
    "  --csv FILE         write the CSV lines to FILE (replaced) instead of the console\n"
    "  --seconds S        stop after S seconds (fractions allowed); --timeout S alike\n"
    "  --frames N         stop after N frames read (N CSV lines)\n"
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
    "  outputX,Y,Z        camera origin as presented\n"
    "\n"
    "Summary line, for example:\n"
    "  144.0 fps presented | 60.0 Hz simulated | interpolated 100.0% (alpha 1.00..1.92)\n"
    "  | camera: repeated frames 58.3% -> 0.0%, step irregularity 0.02934 -> 0.00000 (-100.0%)\n"
    "  fps presented      frames per second of the game's clock that were presented\n"
    "  Hz simulated       new game states (sample times) per second of that clock\n"
    "  interpolated       share of measured frames whose camera Corvane carried to\n"
    "                     the presentation time, and the range of alpha\n"
    "  repeated frames    share of measured frames whose camera did not move since\n"
    "                     the frame before, while the camera was moving: the game's\n"
    "                     camera (source) -> the presented camera. A game simulating\n"
    "                     at H Hz and presenting F fps repeats about 1 - H/F of them.\n"
    "  step irregularity  how unevenly the camera moves from frame to frame, source\n"
    "                     -> presented: each frame's step (the distance the camera\n"
    "                     moved since the frame before) minus the mean step of the 25\n"
    "                     frames around it, as a root mean square, in the game's\n"
    "                     distance units. Like the simulated session's judder (RMS of\n"
    "                     the presented step minus the true step), with the local mean\n"
    "                     standing in for the true step. 0 is perfectly even.\n"
    "  not measured       frames left out of the camera figures, by reason: F10 off,\n"
    "                     the clock invalid or not advancing (paused, jumped back),\n"
    "                     the camera standing still, a cut (the camera jumped far;\n"
    "                     until the game's second sample after it), frames presented\n"
    "                     while the reader was not looking. Frames with F10 off still\n"
    "                     count for fps and Hz.\n"
    "A good result: fps and Hz as expected, interpolated near 100%, presented\n"
    "repeated frames near 0%, and the irregularity far below the source's.\n";

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
  *options = ReaderOptions{0, 0, 0.0, 500, false, false, nullptr};
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
    } else if (std::strcmp(arg, "--timeout") == 0 || std::strcmp(arg, "--seconds") == 0) {
      char* end = nullptr;
      const double seconds = value ? std::strtod(value, &end) : -1.0;
      if (value == nullptr || *end != 0 || !(seconds >= 0.0) || !std::isfinite(seconds))
        return *error = arg[2] == 's' ? "--seconds needs a number of seconds" : "--timeout needs a number of seconds",
               false;
      options->timeoutSeconds = seconds;
      ++i;
    } else if (std::strcmp(arg, "--poll") == 0) {
      if (!parseUnsigned(value, 10000000, &number))
        return *error = "--poll needs microseconds (at most 10000000)", false;
      options->pollMicroseconds = static_cast<uint32_t>(number);
      ++i;
    } else if (std::strcmp(arg, "--summary") == 0) {
      options->summary = true;
    } else if (std::strcmp(arg, "--csv") == 0) {
      if (value == nullptr || value[0] == 0 || value[0] == '-') return *error = "--csv needs a file name", false;
      options->csvPath = value;
      ++i;
    } else if (std::strcmp(arg, "--pid") == 0) {
      if (havePid || !parseUnsigned(value, UINT32_MAX, &number) || number == 0)
        return *error = "--pid needs one process id", false;
      options->processId = static_cast<uint32_t>(number);
      havePid = true;
      ++i;
    } else if (!havePid && parseUnsigned(arg, UINT32_MAX, &number) && number != 0) {
      options->processId = static_cast<uint32_t>(number);
      havePid = true;
    } else {
      return *error = "unexpected argument (see --help)", false;
    }
  }
  return true;
}
