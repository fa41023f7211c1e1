#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tests/wine/standin_scene.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "tests/standin/scene_drive.h"
#include "tests/standin/standin_clock.h"
#include "tests/wine/standin_driver.h"

namespace {

// With a reader following, frames keep coming (one per millisecond or so)
// until it has its lines, up to this many.
constexpr uint64_t kMostFrames = 20000;
constexpr DWORD kReaderStartMs = 15000;
constexpr int kReportedFrameFailures = 8;
constexpr char kCsvHeader[] =
    "sequence,enabled,modified,presentationTime,sampleTime,alpha,sourceX,sourceY,sourceZ,outputX,outputY,outputZ";

// What each driven frame showed, for matching the reader's lines.
struct DrivenFrame {
  double presentationTime;
  double sampleTime;
  bool carried;
  double alpha;
  float sourceOrigin[3];
  float outputOrigin[3];
};
DrivenFrame driven[kMostFrames];
SceneRun run;

bool parseTriple(const wchar_t* text, int32_t values[3]) {
  return std::swscanf(text, L"%d,%d,%d", &values[0], &values[1], &values[2]) == 3;
}

bool sameDouble(double value, double wanted) {
  return value == wanted || std::fabs(value - wanted) <= 1e-14 * std::fabs(wanted);
}
bool sameFloat(double value, float wanted) {
  return std::fabs(value - wanted) <= 2e-7 * std::fmax(1.0, std::fabs(wanted));
}

struct Reader {
  HANDLE process = nullptr;
  HANDLE output = INVALID_HANDLE_VALUE;
  wchar_t path[1024];
};

bool startReader(const SceneOptions& options, Reader* reader) {
  std::swprintf(reader->path, 1024, L"%ls\\telemetry-reader.csv", options.outputDirectory);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  reader->output = CreateFileW(reader->path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reader->output == INVALID_HANDLE_VALUE) return false;
  wchar_t command[2048];
  if (options.readerSummary)  // without a pid: the stand-in runs as Dishonored2.exe
    std::swprintf(command, 2048, L"\"%ls\" --summary --frames %llu --timeout 30 --poll 100", options.telemetryReader,
                  static_cast<unsigned long long>(options.readerFrames));
  else
    std::swprintf(command, 2048, L"\"%ls\" %lu --frames %llu --timeout 30 --poll 100", options.telemetryReader,
                  GetCurrentProcessId(), static_cast<unsigned long long>(options.readerFrames));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = reader->output;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  reader->process = pi.hProcess;
  // The reader prints its header once it has opened the block.
  LARGE_INTEGER size{};
  for (DWORD waited = 0; waited < kReaderStartMs; waited += 5) {
    if (GetFileSizeEx(reader->output, &size) && size.QuadPart > 0) return true;
    if (WaitForSingleObject(reader->process, 0) == WAIT_OBJECT_0) return true;  // its output tells why
    Sleep(5);
  }
  return true;
}

bool readerRunning(const Reader& reader) {
  return reader.process != nullptr && WaitForSingleObject(reader.process, 0) != WAIT_OBJECT_0;
}

// Checks the reader's lines: the header, then `wanted` frames in order of
// sequence, each one of the driven frames as the camera presented it.
int checkReaderLines(const Reader& reader, uint64_t wanted, uint64_t callsBefore, uint64_t frames) {
  WaitForSingleObject(reader.process, 30000);
  DWORD code = 1;
  GetExitCodeProcess(reader.process, &code);
  check(code == 0, "telemetry reader: exits with 0 (got %lu)", code);
  CloseHandle(reader.output);
  FILE* file = _wfopen(reader.path, L"rb");
  check(file != nullptr, "telemetry reader: its output can be read back");
  if (file == nullptr) return 0;
  char line[1024];
  int lines = 0, badLines = 0;
  unsigned long long lastSequence = 0;
  bool header = false;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (!header) {
      header = true;
      check(std::strcmp(line, kCsvHeader) == 0, "telemetry reader: header line (got \"%s\")", line);
      continue;
    }
    ++lines;
    unsigned long long sequence = 0;
    unsigned enabled = 0, modified = 0;
    double p = 0, s = 0, alpha = 0, origin[6] = {};
    char alphaText[64] = "";
    const int fields =
        std::sscanf(line, "%llu,%u,%u,%lf,%lf,%63[^,],%lf,%lf,%lf,%lf,%lf,%lf", &sequence, &enabled, &modified, &p, &s,
                    alphaText, &origin[0], &origin[1], &origin[2], &origin[3], &origin[4], &origin[5]);
    const bool alphaNan = std::strcmp(alphaText, "nan") == 0;
    alpha = alphaNan ? NAN : std::strtod(alphaText, nullptr);
    const uint64_t calls = sequence / 2;
    const bool known = fields == 12 && sequence % 2 == 0 && calls > callsBefore && calls - callsBefore <= frames;
    bool good = known && sequence > lastSequence && enabled == 1;
    if (known) {
      const DrivenFrame& f = driven[calls - callsBefore - 1];
      good = good && sameDouble(p, f.presentationTime) && sameDouble(s, f.sampleTime) &&
             (f.carried ? !alphaNan && sameDouble(alpha, f.alpha) : alphaNan);
      for (int i = 0; i < 3; ++i)
        good = good && sameFloat(origin[i], f.sourceOrigin[i]) && sameFloat(origin[3 + i], f.outputOrigin[i]);
    }
    if (!good && ++badLines <= kReportedFrameFailures)
      check(false, "telemetry reader: line %d is a driven frame in order, enabled, as presented: \"%s\"", lines, line);
    lastSequence = sequence;
  }
  std::fclose(file);
  CloseHandle(reader.process);
  check(badLines == 0, "telemetry reader: every line matches its frame (%d did not)", badLines);
  check(static_cast<uint64_t>(lines) == wanted, "telemetry reader: %llu frame lines (got %d)",
        static_cast<unsigned long long>(wanted), lines);
  return lines;
}

// Checks the reader's closing summary against the scene's own rates and the
// share of frames on which the driver gave the game no new sample.
void checkReaderSummary(const Reader& reader, double sourceRepeats) {
  WaitForSingleObject(reader.process, 30000);
  DWORD code = 1;
  GetExitCodeProcess(reader.process, &code);
  CloseHandle(reader.process);
  CloseHandle(reader.output);
  check(code == 0, "telemetry reader: exits with 0 (got %lu)", code);
  FILE* file = _wfopen(reader.path, L"rb");
  char line[1024];
  bool found = false;
  double fps = 0, hz = 0, interpolated = 0, alphaLow = 0, alphaHigh = 0, repeatedSource = 0, repeatedPresented = 1,
         irregularSource = 0, irregularPresented = 1;
  while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
    std::printf("reader: %s", line);
    found = found || std::sscanf(line,
                                 "Whole run: %lf fps presented | %lf Hz simulated | interpolated %lf%% (alpha "
                                 "%lf..%lf) | camera: repeated frames %lf%% -> %lf%%, step irregularity %lf -> %lf",
                                 &fps, &hz, &interpolated, &alphaLow, &alphaHigh, &repeatedSource, &repeatedPresented,
                                 &irregularSource, &irregularPresented) == 9;
  }
  if (file != nullptr) std::fclose(file);
  check(found, "telemetry reader: a closing summary with every figure");
  const ScriptedScene& scene = kStandardScene;
  check(std::fabs(fps - scene.presentationHz) <= 0.01 * scene.presentationHz, "summary: %u fps within 1%% (got %.2f)",
        scene.presentationHz, fps);
  check(std::fabs(hz - scene.simulationHz) <= 0.01 * scene.simulationHz, "summary: %u Hz within 1%% (got %.2f)",
        scene.simulationHz, hz);
  check(repeatedPresented == 0.0 && std::fabs(repeatedSource - 100.0 * sourceRepeats) <= 2.0,
        "summary: repeated frames %.1f%% in the game -> 0%% presented (got %.1f%% -> %.1f%%)", 100.0 * sourceRepeats,
        repeatedSource, repeatedPresented);
  check(irregularSource > 0.0 && irregularPresented <= 0.05 * irregularSource,
        "summary: step irregularity falls by 95%% or more (got %g -> %g)", irregularSource, irregularPresented);
}

}  // namespace

bool parseSceneOptions(int argc, wchar_t** argv, SceneOptions* options) {
  *options = SceneOptions{};
  static wchar_t directory[1024] = L".";
  options->outputDirectory = directory;
  for (int i = 1; i < argc; ++i) options->readerSummary |= std::wcscmp(argv[i], L"--reader-summary") == 0;
  for (int i = 1; i + 1 < argc; ++i) {
    const wchar_t* value = argv[i + 1];
    if (std::wcscmp(argv[i], L"--scene") == 0) {
      options->frames = std::wcstoull(value, nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--telemetry-reader") == 0) {
      options->telemetryReader = value;
    } else if (std::wcscmp(argv[i], L"--reader-frames") == 0) {
      options->readerFrames = std::wcstoull(value, nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--expect-console") == 0) {
      options->expectConsole = parseTriple(value, options->expectedConsole);
      if (!options->expectConsole) return std::printf("bad --expect-console %ls\n", value), false;
    } else if (std::wcscmp(argv[i], L"--dll") == 0) {
      std::wcsncpy(directory, value, 1023);
      wchar_t* slash = std::wcsrchr(directory, L'\\');
      if (slash != nullptr) *slash = 0;
    }
  }
  if (options->frames > kMostFrames) return std::printf("--scene allows at most %llu frames\n", kMostFrames), false;
  if (options->telemetryReader != nullptr && options->readerFrames == 0)
    return std::printf("--telemetry-reader needs --reader-frames\n"), false;
  return true;
}

bool applyConsoleOption(int argc, wchar_t** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--console") != 0) continue;
    int32_t values[3];
    if (!parseTriple(argv[i + 1], values)) return std::printf("bad --console %ls\n", argv[i + 1]), false;
    setStandInConsoleValues({values[0], values[1], values[2]});
  }
  return true;
}

void driveScene(const SceneOptions& options, char* summary, size_t capacity) {
  Reader reader;
  if (options.telemetryReader != nullptr)
    check(startReader(options, &reader), "telemetry reader: started as a second process (%lu)", GetLastError());

  enterPlace("the view-copy caller (scene)");
  const uint64_t callsBefore = standInHost.viewCopy.count.load();
  startScene(run, kStandardScene);
  uint64_t frames = 0, carried = 0, repeats = 0, lastTick = 0;
  int failedFrames = 0;
  while (frames < kMostFrames && (frames < options.frames || readerRunning(reader))) {
    const SceneFrameCheck c = driveSceneFrame(run);
    DrivenFrame& f = driven[frames++];
    f = {c.times.presentationTime, c.times.sampleTime, c.expected.carried, c.expected.alpha, {}, {}};
    std::memcpy(f.sourceOrigin, run.source + kSceneViewOrigin, sizeof f.sourceOrigin);
    std::memcpy(f.outputOrigin, c.presentedOrigin, sizeof f.outputOrigin);
    carried += c.expected.carried;
    repeats += frames > 1 && c.times.tick == lastTick;
    lastTick = c.times.tick;
    if (!sceneFrameGood(c) && ++failedFrames <= kReportedFrameFailures) {
      char text[768];
      describeSceneFrame(c, text, sizeof text);
      check(false, "scene %s", text);
    }
    // Give the reader time to see each frame; the summary judges the camera
    // on runs of frames it saw one after the other.
    if (reader.process != nullptr) Sleep(options.readerSummary ? 3 : 1);
  }
  enterPlace("nothing");
  check(failedFrames == 0, "scene: every frame presented as the reference and the path say (%d did not)", failedFrames);
  check(carried > 0, "scene: the camera carried some frames");

  int lines = 0;
  if (reader.process != nullptr) {
    check(!readerRunning(reader), "telemetry reader: finished within %llu frames",
          static_cast<unsigned long long>(kMostFrames));
    if (options.readerSummary)
      checkReaderSummary(reader, static_cast<double>(repeats) / static_cast<double>(frames - 1));
    else lines = checkReaderLines(reader, options.readerFrames, callsBefore, frames);
  }
  if (options.expectConsole) {
    const StandInConsoleValues v = standInConsoleValues();
    check(v.frameSpinning == options.expectedConsole[0] && v.tripleBuffering == options.expectedConsole[1] &&
              v.mouseFix == options.expectedConsole[2],
          "console values after the scene are %d,%d,%d (got %d,%d,%d)", options.expectedConsole[0],
          options.expectedConsole[1], options.expectedConsole[2], v.frameSpinning, v.tripleBuffering, v.mouseFix);
  }
  const int written = std::snprintf(summary, capacity, "scene: %llu frames, %llu carried",
                                    static_cast<unsigned long long>(frames), static_cast<unsigned long long>(carried));
  if (reader.process != nullptr && written > 0 && static_cast<size_t>(written) < capacity)
    std::snprintf(summary + written, capacity - written, "; telemetry lines: %d", lines);
}
