// The session driver: the stand-in game's DLL (loaded by the stand-in
// executable with --standin) that plays a simulated game session through the
// image, with or without Corvane, and measures what the renderer received.
//
//   corvaneStandInBuild: writes the stand-in image and wraps its functions
//     with timers, before corvane.dll is loaded.
//   corvaneStandInDrive: plays the session and writes, into --out DIR,
//     summary-LABEL.txt (the figures) and trace-LABEL.csv (one second of the
//     camera's and a model's presented and true positions). With --compare
//     FILE (the summary of the same session without Corvane) it prints the
//     side-by-side table and the bounds, and returns 1 when one is not met.
//
// Options: --scene-file PATH, --frames N (overrides the description),
// --label NAME (default "with"), --out DIR (default: corvane.dll's folder), --compare FILE, --memory (prints
// the process's private bytes along the way and checks they stop growing).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "tests/session/session_compare.h"
#include "tests/session/session_models.h"
#include "tests/session/win_renderer.h"
#include "tests/session/session_paths.h"
#include "tests/session/session_scene.h"
#include "tests/session/win_frame.h"
#include "tests/session/win_timing.h"
#include "tests/standin/standin_clock.h"
#include "tests/standin/standin_host.h"

namespace {

constexpr unsigned kCalibrationMs = 200;
// Private bytes may vary by this much once the session runs (Wine's own heap);
// the working set by this much (pages the system trims and brings back), the
// handle count by this many.
constexpr SIZE_T kMemorySlack = 512 * 1024;
constexpr SIZE_T kResidentSlack = 4 * 1024 * 1024;
constexpr DWORD kHandleSlack = 4;
constexpr int kMemoryChecks = 10;

const wchar_t kHere[] = L".";

struct Options {
  const wchar_t* sceneFile = nullptr;
  uint64_t frames = 0;
  char label[kNameLength] = "with";
  const wchar_t* out = kHere;
  const wchar_t* compare = nullptr;
  bool memory = false;
};

bool parseOptions(int argc, wchar_t** argv, Options* o) {
  for (int i = 1; i + 1 < argc; ++i) {
    const wchar_t* v = argv[i + 1];
    if (!std::wcscmp(argv[i], L"--scene-file")) o->sceneFile = v;
    else if (!std::wcscmp(argv[i], L"--frames")) o->frames = std::wcstoull(v, nullptr, 10);
    else if (!std::wcscmp(argv[i], L"--label")) std::snprintf(o->label, sizeof o->label, "%ls", v);
    else if (!std::wcscmp(argv[i], L"--out")) o->out = v;
    else if (!std::wcscmp(argv[i], L"--compare")) o->compare = v;
    else if (!std::wcscmp(argv[i], L"--dll") && o->out == kHere) {
      // Beside corvane.dll, in the game's folder, unless --out says otherwise.
      static wchar_t folder[1024];
      std::wcsncpy(folder, v, 1023);
      folder[1023] = 0;
      if (wchar_t* slash = std::wcsrchr(folder, L'\\')) {
        *slash = 0;
        o->out = folder;
      }
    }
  }
  for (int i = 1; i < argc; ++i)
    if (!std::wcscmp(argv[i], L"--memory")) o->memory = true;
  return std::strchr(o->label, ' ') == nullptr && o->label[0] != 0;
}

bool loadScene(const Options& o, SessionScene* scene) {
  static char text[16384];
  text[0] = 0;
  if (o.sceneFile != nullptr) {
    FILE* f = _wfopen(o.sceneFile, L"rb");
    if (f == nullptr) return std::printf("cannot read %ls\n", o.sceneFile), false;
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    text[n] = 0;
    std::fclose(f);
  }
  char error[256];
  if (!parseSessionScene(text, scene, error, sizeof error)) return std::printf("scene: %s\n", error), false;
  if (o.frames != 0) scene->frames = o.frames;
  return true;
}

FILE* openOut(const Options& o, const char* stem, const char* extension) {
  wchar_t path[1024];
  std::swprintf(path, 1024, L"%ls\\%hs-%hs.%hs", o.out, stem, o.label, extension);
  return _wfopen(path, L"wb");
}

// Committed private memory of the process, region by region (Wine leaves the
// process counters' private usage at 0).
SIZE_T privateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const uint8_t* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const uint8_t* next = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

// What the process holds: committed private bytes, resident bytes (working
// set) and open handles.
struct Holdings {
  SIZE_T privateBytes;
  SIZE_T resident;
  DWORD handles;
};

// Open handles: the system's count, or where it keeps none (Wine answers 0),
// the handle values that name an open object, counted one by one.
constexpr uintptr_t kHighestHandleProbed = 0x10000;
DWORD openHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  DWORD flags;
  for (uintptr_t h = 4; h < kHighestHandleProbed; h += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++count;
  return count;
}

Holdings holdings() {
  Holdings h{privateBytes(), 0, 0};
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) h.resident = counters.WorkingSetSize;
  h.handles = openHandles();
  return h;
}

void printHoldings(const char* when, const Holdings& h) {
  std::printf("  %s: %llu KiB private, %llu KiB resident, %lu handles\n", when,
              static_cast<unsigned long long>(h.privateBytes / 1024),
              static_cast<unsigned long long>(h.resident / 1024), static_cast<unsigned long>(h.handles));
}

}  // namespace

extern "C" __declspec(dllexport) int corvaneStandInBuild(uint8_t* base, int, wchar_t**) {
  buildStandInHost(base);
  if (!wrapStandIns(base)) {
    std::printf("session: the stand-in functions are not where the driver expects them\n");
    return 2;
  }
  if (!protectStandInImage(base, [](void* address, size_t size, uint32_t protection) {
        DWORD old = 0;
        return VirtualProtect(address, size, protection, &old) != FALSE;
      })) {
    std::printf("session: the image cannot be protected as the game's is\n");
    return 2;
  }
  return 0;
}

extern "C" __declspec(dllexport) int corvaneStandInDrive(uint8_t* base, int argc, wchar_t** argv) {
  Options options;
  SessionScene scene;
  if (!parseOptions(argc, argv, &options) || !loadScene(options, &scene)) return 2;
  calibrateTicks(kCalibrationMs);
  const bool probesTimed = timeAddressProbes();
  FILE* trace = openOut(options, "trace", "csv");
  if (trace == nullptr) return std::printf("cannot write into %ls\n", options.out), 2;

  // The models live in memory of their own, as the game's heap objects do:
  // one allocation, or with heap_regions that many large ones.
  const size_t regionBytes = sessionRegionBytes(scene);
  uint8_t* regions[64];
  const uint32_t regionCount = scene.heapRegions != 0 ? scene.heapRegions : 1;
  bool placed = true;
  for (uint32_t r = 0; r < regionCount; ++r) {
    regions[r] = static_cast<uint8_t*>(VirtualAlloc(nullptr, regionBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    placed = placed && regions[r] != nullptr;
  }
  if (!placed || !startSessionModelsInRegions(scene, regions, regionBytes))
    return std::printf("session: cannot place %u x %llu bytes of models\n", regionCount,
                       static_cast<unsigned long long>(regionBytes)),
           2;
  startRendererThreads(scene.threads);

  static SessionRun run;  // large: histograms of every cost
  if (!startSession(run, scene, base, trace)) return 2;
  char layout[96] = "";
  if (scene.still > 0.0 || scene.heapRegions != 0)
    std::snprintf(layout, sizeof layout, ", %.0f%% of the world models still, %s", 100.0 * scene.still,
                  scene.heapRegions != 0 ? "records scattered over heap regions" : "records packed");
  std::printf(
      "session %s: %llu frames, %u Hz simulation, %u Hz presentation, jitter %g, %u world models, "
      "%u skinned x %u joints, %u casters, %u hands, %u renderer threads%s%s\n",
      options.label, static_cast<unsigned long long>(scene.frames), scene.simulationHz, scene.presentationHz,
      scene.jitter, scene.worldModels, scene.skinned, scene.joints, scene.casters, scene.hands, scene.threads, layout,
      probesTimed ? "" : " (address probes not timed)");
  std::fflush(stdout);

  SIZE_T settled = 0, highest = 0;
  Holdings before{};
  const uint64_t memoryStep = scene.frames / kMemoryChecks;
  const uint64_t started = GetTickCount64();
  for (uint64_t frame = 0; frame < scene.frames; ++frame) {
    driveSessionFrame(run, frame);
    if (scene.reportEvery != 0 && frame % scene.reportEvery == 0 && frame != 0) {
      std::printf("  frame %llu (%.0f s)\n", static_cast<unsigned long long>(frame),
                  (GetTickCount64() - started) / 1000.0);
      std::fflush(stdout);
    }
    if (options.memory && memoryStep != 0 && frame % memoryStep == memoryStep - 1) {
      const SIZE_T bytes = privateBytes();
      if (settled == 0) settled = bytes, before = holdings();
      if (bytes > highest) highest = bytes;
      std::printf("  memory at frame %llu: %llu KiB private\n", static_cast<unsigned long long>(frame + 1),
                  static_cast<unsigned long long>(bytes / 1024));
      std::fflush(stdout);
    }
  }
  finishSession(run);
  std::fclose(trace);
  const Holdings after = holdings();
  stopRendererThreads();
  const SessionChurn churn = sessionChurn();
  if (churn.retired != 0)
    std::printf(
        "session %s: %llu models retired and placed again, %llu into a record used before, %llu into a new one\n",
        options.label, static_cast<unsigned long long>(churn.retired), static_cast<unsigned long long>(churn.reused),
        static_cast<unsigned long long>(churn.fresh));

  FILE* summaryFile = openOut(options, "summary", "txt");
  std::snprintf(run.summary.label, sizeof run.summary.label, "%s", options.label);
  const bool written = summaryFile != nullptr && writeSummary(run.summary, summaryFile);
  if (summaryFile != nullptr) std::fclose(summaryFile);
  if (!written) return std::printf("cannot write the summary\n"), 2;
  std::printf("session %s: %llu frames played in %.1f s\n", options.label,
              static_cast<unsigned long long>(scene.frames), (GetTickCount64() - started) / 1000.0);

  int failed = 0;
  if (options.memory) {
    printHoldings("after the first tenth", before);
    printHoldings("at the end", after);
    const bool flat = highest <= settled + kMemorySlack && after.resident <= before.resident + kResidentSlack &&
                      after.handles <= before.handles + kHandleSlack;
    std::printf(
        "%s memory: private bytes %llu KiB after the first tenth, at most %llu KiB later; resident %llu -> %llu KiB; "
        "handles %lu -> %lu\n",
        flat ? "PASS" : "FAIL", static_cast<unsigned long long>(settled / 1024),
        static_cast<unsigned long long>(highest / 1024), static_cast<unsigned long long>(before.resident / 1024),
        static_cast<unsigned long long>(after.resident / 1024), static_cast<unsigned long>(before.handles),
        static_cast<unsigned long>(after.handles));
    failed += flat ? 0 : 1;
  }
  if (options.compare != nullptr) {
    FILE* f = _wfopen(options.compare, L"rb");
    static SessionSummary without;
    if (f == nullptr || !readSummary(f, &without)) return std::printf("cannot read %ls\n", options.compare), 2;
    std::fclose(f);
    std::printf("\n");
    failed += compareSessions(without, run.summary, stdout);
  }
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}
