#include <cstring>
#include <cwchar>

#include "bootstrap/host_interface.h"
#include "bootstrap/install.h"
#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "camera/telemetry.h"
#include "math/blend.h"
#include "patch/hooks.h"
#include "platform/platform.h"

namespace corvane::bootstrap {

void* ownModule = nullptr;
std::atomic<uint8_t> workerStarted{0};
void* telemetryMapping = nullptr;
camera::TelemetryBlock* telemetryView = nullptr;
uint8_t* hostBase = nullptr;

bool dllAttach(void* module, uint32_t reason) {
  if (reason != kProcessAttach) return true;
  ownModule = module;
  os::platform.disableThreadNotifications(module);
  if (workerStarted.exchange(1) != 0) return true;
  os::platform.startThread(installWorker);
  return true;
}

void formatTelemetryMappingName(uint32_t processId, wchar_t (&name)[kMappingNameCapacity]) {
  std::wmemset(name, 0, kMappingNameCapacity);
  static const wchar_t kPrefix[] = L"Local\\CorvaneTelemetry-";
  size_t n = 0;
  for (; kPrefix[n] != 0; ++n) name[n] = kPrefix[n];
  wchar_t digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + processId % 10);
    processId /= 10;
  } while (processId != 0);
  while (count > 0) name[n++] = digits[--count];
}

namespace {

void createTelemetryBlock() {
  wchar_t name[kMappingNameCapacity];
  formatTelemetryMappingName(os::platform.currentProcessId(), name);
  uint32_t error = 0;
  void* mapping = os::platform.createSharedMapping(name, camera::kTelemetrySize, &error);
  if (mapping == nullptr) {
    LogMessage("Unable to create the camera telemetry mapping (Win32 %lu).", static_cast<unsigned long>(error));
    return;
  }
  telemetryMapping = mapping;
  void* view = os::platform.mapSharedView(mapping, camera::kTelemetrySize, &error);
  if (view == nullptr) {
    LogMessage("Unable to map the camera telemetry block (Win32 %lu).", static_cast<unsigned long>(error));
    os::platform.closeSharedMapping(mapping);
    telemetryMapping = nullptr;
    return;
  }
  std::memset(view, 0, camera::kTelemetrySize);
  auto* block = static_cast<camera::TelemetryBlock*>(view);
  block->version = camera::kTelemetryVersion;
  block->size = camera::kTelemetrySize;
  std::atomic_thread_fence(std::memory_order_release);
  telemetryView = block;
}

}  // namespace

uint32_t CORVANE_HOSTCALL installWorker(void*) {
  uint8_t* base = static_cast<uint8_t*>(os::platform.mainModule());
  hostBase = base;
  if (!math::runMathSelfTest()) {
    LogMessage("World-transform interpolation self-test failed; hooks were not installed.");
    return 0;
  }
  if (base == nullptr) return 0;

  wchar_t executable[kPathCapacity];
  std::wmemset(executable, 0, kPathCapacity);
  if (os::platform.moduleFileName(nullptr, executable, kPathCapacity) == 0) {
    LogMessage("Unable to obtain the executable path; patch not installed.");
    return 0;
  }
  uint8_t digest[32] = {};
  if (!os::platform.hashFileSha256(executable, digest)) {
    LogMessage("Unable to hash Dishonored2.exe; patch not installed.");
    return 0;
  }
  if (std::memcmp(digest, expectedHostDigest, sizeof digest) != 0) {
    LogMessage("Dishonored2.exe SHA-256 does not match GOG 1.77.9.0; patch not installed.");
    return 0;
  }
  if (std::memcmp(base + kViewCopyCallSiteRva, kViewCopyCallSiteBytes, sizeof kViewCopyCallSiteBytes) != 0) {
    LogMessage("View-copy call-site bytes do not match; patch not installed.");
    return 0;
  }

  loadSettings();
  if (settings.telemetry) createTelemetryBlock();

  if (!patch::installCameraHook()) return 0;
  patch::installGpuCopyHook();
  patch::installPoseUploadHook();
  patch::installShadowProxies();
  return 0;
}

}  // namespace corvane::bootstrap
