// The renderer's GPU-parameter copy and the skinned-pose upload: the first
// bytes of each host function become a jump to its hook body, and a Trampoline
// runs the displaced instructions and continues in the host.
#include <atomic>

#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "patch/code_writes.h"
#include "patch/hooks.h"
#include "patch/install_steps.h"
#include "patch/patch_sites.h"
#include "patch/stubs.h"
#include "platform/platform.h"

namespace corvane::patch {

using bootstrap::LogMessage;
using bootstrap::settings;

namespace {

struct EntryHookTexts {
  const char* disabled;
  const char* bytesDiffer;
  const char* allocationRefused;
  const char* protectionRefused;
};

constexpr EntryHookTexts kGpuCopyTexts = {
    "Renderer model GPU-copy features are disabled by configuration.",
    "Renderer GPU-copy bytes do not match; renderer model features were not installed.",
    "Unable to allocate the renderer GPU-copy trampoline; hands stabilization was not installed.",
    "VirtualProtect failed at the renderer GPU-copy boundary; renderer model features were not installed.",
};

constexpr EntryHookTexts kPoseUploadTexts = {
    "Skeletal interpolation is disabled by configuration.",
    "Skinned-pose upload bytes do not match; skeletal interpolation was not installed.",
    "Unable to allocate the skinned-pose upload trampoline; skeletal interpolation was not installed.",
    "VirtualProtect failed at the skinned-pose upload boundary; skeletal interpolation was not installed.",
};

// Publishes the trampoline where the hook body finds it.
using PublishTrampoline = void (*)(void* trampoline);

// Every step up to the installed marker; logs the reason of a refusal. The
// caller logs the success line.
bool installEntryHook(const PatchSite& site, bool enabled, const EntryHookTexts& texts, PublishTrampoline publish,
                      std::atomic<void*>& installed) {
  if (!enabled) {
    LogMessage("%s", texts.disabled);
    return false;
  }
  if (!siteMatches(site)) {
    LogMessage("%s", texts.bytesDiffer);
    return false;
  }
  void* trampoline = allocateTrampoline(site);
  if (trampoline == nullptr) {
    LogMessage("%s", texts.allocationRefused);
    return false;
  }
  uint8_t patch[kMaxDisplacedLength];
  buildEntryPatch(patch, site.length, reinterpret_cast<uint64_t>(site.hookBody));

  uint8_t* const siteBytes = siteAddress(site);
  uint32_t oldProtection = 0;
  if (!os::platform.protectPages(siteBytes, site.length, os::kPageExecuteReadWrite, &oldProtection)) {
    releaseStub(trampoline);
    LogMessage("%s", texts.protectionRefused);
    return false;
  }
  // The way back into the host exists before any thread can run into the jump.
  publish(trampoline);
  const EntryWrite write{siteBytes, patch, site.length, static_cast<const uint8_t*>(trampoline)};
  bool trampolineInUse = false;
  const bool written = writeEntriesHoldingThreads(&write, 1, &trampolineInUse);
  if (written) installed.store(trampoline, std::memory_order_release);
  uint32_t ignored = 0;
  os::platform.protectPages(siteBytes, site.length, oldProtection, &ignored);
  if (!written) {
    // A thread that could not be held leaves the entry as the host wrote it.
    publish(nullptr);
    if (!trampolineInUse) releaseStub(trampoline);
    LogMessage("%s", texts.protectionRefused);
    return false;
  }
  return true;
}

unsigned flag(uint8_t value) { return value != 0 ? 1u : 0u; }

}  // namespace

bool installGpuCopyHook() {
  const PatchSite& site = patchSites[kGpuCopySite];
  const bool enabled = settings.stabilizeFirstPersonHands || settings.worldTransforms || settings.cinematicTransforms;
  const bool done = installEntryHook(
      site, enabled, kGpuCopyTexts,
      [](void* trampoline) {
        gpuCopyTrampoline.store(reinterpret_cast<GpuCopyFunction>(trampoline), std::memory_order_release);
      },
      gpuCopyInstalled);
  if (!done) return false;
  LogMessage(
      "Installed renderer model GPU-copy hook at RVA 0x%llX (first-person roots=%u, world transforms=%u, cinematic "
      "transforms=%u).",
      static_cast<unsigned long long>(site.rva), flag(settings.stabilizeFirstPersonHands),
      flag(settings.worldTransforms), flag(settings.cinematicTransforms));
  return true;
}

bool installPoseUploadHook() {
  const PatchSite& site = patchSites[kPoseUploadSite];
  const bool enabled = settings.worldSkeletons || settings.firstPersonSkeletons || settings.cinematicSkeletons;
  const bool done = installEntryHook(
      site, enabled, kPoseUploadTexts,
      [](void* trampoline) {
        poseUploadTrampoline.store(reinterpret_cast<PoseUploadFunction>(trampoline), std::memory_order_release);
      },
      poseUploadInstalled);
  if (!done) return false;
  LogMessage(
      "Installed experimental skeletal hook at pose-upload RVA 0x%llX (first-person=%u, world=%u, cinematic=%u); CPU "
      "poses remain unmodified and presentation palettes are substituted only during synchronous GPU upload.",
      static_cast<unsigned long long>(site.rva), flag(settings.firstPersonSkeletons), flag(settings.worldSkeletons),
      flag(settings.cinematicSkeletons));
  return true;
}

}  // namespace corvane::patch
