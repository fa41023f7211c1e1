// The view-copy call site: the host's call instruction is pointed at a Relay
// that jumps to ViewCopyHook.
#include <cstring>
#include <type_traits>

#include "bootstrap/host_interface.h"
#include "bootstrap/log.h"
#include "patch/code_writes.h"
#include "patch/hooks.h"
#include "patch/install_steps.h"
#include "patch/patch_sites.h"
#include "patch/relay_search.h"
#include "patch/stubs.h"
#include "platform/platform.h"

namespace corvane::patch {

using bootstrap::LogMessage;

// The call patch is one 8-byte store of site..site+7, which must share a cache
// line; module bases are 64 KiB aligned, so the RVA decides.
static_assert((bootstrap::kViewCopyCallSiteRva % 64) + 8 <= 64, "view-copy call bytes cross a cache line");

namespace {

void dropRelay(void* relay) {
  viewCopyRelay.store(nullptr, std::memory_order_release);
  releaseStub(relay);
}

}  // namespace

bool installCameraHook() {
  const PatchSite& site = patchSites[kViewCopySite];
  hostViewCopy.store(bootstrap::hostAddress<std::remove_pointer_t<ViewCopyFunction>>(bootstrap::kViewCopyFunctionRva),
                     std::memory_order_release);
  uint8_t* const siteBytes = siteAddress(site);
  const uintptr_t siteAt = reinterpret_cast<uintptr_t>(siteBytes);

  void* relay = allocateRelayNear(siteAt);
  if (relay == nullptr) {
    viewCopyRelay.store(nullptr, std::memory_order_release);
    LogMessage("Unable to allocate a relay within rel32 range; patch not installed.");
    return false;
  }
  uint8_t relayBytes[kRelayLength];
  buildRelay(relayBytes, reinterpret_cast<uint64_t>(site.hookBody));
  std::memcpy(relay, relayBytes, kRelayLength);
  viewCopyRelay.store(relay, std::memory_order_release);
  os::platform.flushCode(relay, kRelayLength);

  const uintptr_t relayAt = reinterpret_cast<uintptr_t>(relay);
  if (!relayWithinCallRange(siteAt, relayAt)) {
    dropRelay(relay);
    LogMessage("Allocated relay is outside rel32 range; patch not installed.");
    return false;
  }

  uint32_t oldProtection = 0;
  if (!os::platform.protectPages(siteBytes, kCallLength, os::kPageExecuteReadWrite, &oldProtection)) {
    dropRelay(relay);
    LogMessage("VirtualProtect failed at the view-copy call site; patch not installed.");
    return false;
  }
  uint8_t patch[kCallLength];
  buildCallPatch(patch, siteAt, relayAt);
  writeCallPatch(siteBytes, patch);
  os::platform.flushCode(siteBytes, kCallLength);
  uint32_t ignored = 0;
  os::platform.protectPages(siteBytes, kCallLength, oldProtection, &ignored);

  LogMessage("Installed Dishonored 2 high-FPS camera hook at RVA 0x%llX; F10 toggles it.",
             static_cast<unsigned long long>(site.rva));
  return true;
}

}  // namespace corvane::patch
