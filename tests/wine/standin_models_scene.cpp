#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tests/wine/standin_models_scene.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "tests/standin/model_scene_drive.h"
#include "tests/wine/standin_driver.h"

namespace {

constexpr uint64_t kMostFrames = 5000;
constexpr uint64_t kReportSerial = 600;
constexpr size_t kLogCapacity = 1 << 20;

char logText[kLogCapacity];

// corvane.log as it is now, shared with the DLL that appends to it.
bool readLog(const wchar_t* path) {
  HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const BOOL read = ReadFile(f, logText, kLogCapacity - 1, &got, nullptr);
  CloseHandle(f);
  logText[read ? got : 0] = 0;
  return read != FALSE;
}

}  // namespace

bool parseModelSceneOptions(int argc, wchar_t** argv, ModelSceneOptions* options) {
  *options = ModelSceneOptions{};
  options->rendererThreads = 2;
  std::wcscpy(options->logPath, L"corvane.log");
  for (int i = 1; i + 1 < argc; ++i) {
    const wchar_t* value = argv[i + 1];
    if (std::wcscmp(argv[i], L"--models") == 0) {
      options->frames = std::wcstoull(value, nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--renderer-threads") == 0) {
      options->rendererThreads = static_cast<uint32_t>(std::wcstoul(value, nullptr, 10));
      if (options->rendererThreads < 1 || options->rendererThreads > 2)
        return std::printf("--renderer-threads takes 1 or 2\n"), false;
    } else if (std::wcscmp(argv[i], L"--dll") == 0) {
      std::swprintf(options->logPath, 1024, L"%ls", value);
      wchar_t* slash = std::wcsrchr(options->logPath, L'\\');
      if (slash != nullptr) std::wcscpy(slash + 1, L"corvane.log");
    }
  }
  if (options->frames > kMostFrames) return std::printf("--models allows at most %llu frames\n", kMostFrames), false;
  return true;
}

void driveModelScene(const ModelSceneOptions& options, char* summary, size_t capacity) {
  enterPlace("the model scene");
  ModelScene scene;
  scene.rendererThreads = options.rendererThreads;
  startModelScene(scene, kStandardScene);
  for (uint64_t f = 0; f < options.frames; ++f) driveModelSceneFrame();
  enterPlace("nothing");
  const uint64_t failures = modelSceneFailures();
  for (int i = 0; i < kKeptFailureTexts && static_cast<uint64_t>(i) < failures; ++i)
    check(false, "models %s", modelSceneFailureText(i));
  check(failures == 0, "models: every renderer call as the driver works it out (%llu failed)",
        static_cast<unsigned long long>(failures));
  const ModelSceneTally& t = modelSceneTally();
  check(t.carried > 0 && t.shadowCarried > 0 && t.palettesCarried > 0 && t.forced > 0,
        "models: models, shadows and palettes were carried, and a declined upload forced");
  if (options.frames > kReportSerial) {
    char message[1024];
    check(readLog(options.logPath), "models: corvane.log can be read");
    check(reportMatchesTally(logText, kReportSerial, message, sizeof message),
          "models: the report at frame %llu counts what the driver saw (%s)",
          static_cast<unsigned long long>(kReportSerial), message);
  }
  std::snprintf(summary, capacity,
                "models: %llu frames, carried %llu (skinned %llu, cinematic %llu), shadows %llu in %llu lists, "
                "palettes %llu (forced %llu)",
                static_cast<unsigned long long>(t.frames), static_cast<unsigned long long>(t.carried),
                static_cast<unsigned long long>(t.carriedSkinned), static_cast<unsigned long long>(t.carriedCinematic),
                static_cast<unsigned long long>(t.shadowCarried), static_cast<unsigned long long>(t.shadowLists),
                static_cast<unsigned long long>(t.palettesCarried), static_cast<unsigned long long>(t.forced));
}
