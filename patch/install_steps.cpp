#include "patch/install_steps.h"

#include <cstring>

#include "bootstrap/host_interface.h"
#include "patch/stubs.h"
#include "platform/platform.h"

namespace corvane::patch {

uint8_t* siteAddress(const PatchSite& site) { return bootstrap::hostAddress(site.rva); }

bool siteMatches(const PatchSite& site) { return std::memcmp(siteAddress(site), site.expected, site.length) == 0; }

void* allocateTrampoline(const PatchSite& site) {
  void* page = os::platform.allocatePages(nullptr, os::kPageSize);
  if (page == nullptr) return nullptr;
  const uint64_t resume = reinterpret_cast<uint64_t>(siteAddress(site)) + site.length;
  buildTrampoline(static_cast<uint8_t*>(page), site.expected, site.length, resume);
  os::platform.flushCode(page, trampolineLength(site.length));
  return page;
}

void releaseStub(void* stub) {
  if (stub != nullptr) os::platform.releasePages(stub, os::kPageSize);
}

}  // namespace corvane::patch
