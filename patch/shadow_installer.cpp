// The two shadow caster-list builds: both entries are patched together or not
// at all.
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

constexpr size_t kShadowEntryCount = 2;

// `keep`: a thread was moved into them; they stay, unpublished.
void dropTrampolines(void* (&trampolines)[kShadowEntryCount], bool keep = false) {
  for (size_t entry = 0; entry < kShadowEntryCount; ++entry) {
    if (!keep) releaseStub(trampolines[entry]);
    trampolines[entry] = nullptr;
    shadowTrampolines[entry].store(nullptr, std::memory_order_release);
  }
}

}  // namespace

bool installShadowProxies() {
  if (!settings.shadowTransforms) {
    LogMessage("Shadow-transform interpolation is disabled by configuration.");
    return false;
  }
  const PatchSite* const sites[kShadowEntryCount] = {&patchSites[kShadowBuild0Site], &patchSites[kShadowBuild1Site]};
  void* trampolines[kShadowEntryCount] = {nullptr, nullptr};
  for (size_t entry = 0; entry < kShadowEntryCount; ++entry) {
    if (!siteMatches(*sites[entry])) {
      dropTrampolines(trampolines);
      LogMessage("Shadow caster-build entry %llu bytes do not match; shadow transforms were not installed.",
                 static_cast<unsigned long long>(entry));
      return false;
    }
    trampolines[entry] = allocateTrampoline(*sites[entry]);
    if (trampolines[entry] == nullptr) {
      dropTrampolines(trampolines);
      LogMessage("Unable to allocate shadow caster-build trampolines; shadow transforms were not installed.");
      return false;
    }
  }

  uint8_t* const spanBegin = siteAddress(*sites[0]);
  const size_t spanLength = sites[1]->rva - sites[0]->rva + sites[1]->length;  // 2367 bytes
  uint32_t oldProtection = 0;
  if (!os::platform.protectPages(spanBegin, spanLength, os::kPageExecuteReadWrite, &oldProtection)) {
    dropTrampolines(trampolines);
    LogMessage("VirtualProtect failed for shadow caster-build entries; shadow transforms were not installed.");
    return false;
  }
  for (size_t entry = 0; entry < kShadowEntryCount; ++entry)
    shadowTrampolines[entry].store(trampolines[entry], std::memory_order_release);
  uint8_t patches[kShadowEntryCount][kMaxDisplacedLength];
  EntryWrite writes[kShadowEntryCount];
  for (size_t entry = 0; entry < kShadowEntryCount; ++entry) {
    buildEntryPatch(patches[entry], sites[entry]->length, reinterpret_cast<uint64_t>(sites[entry]->hookBody));
    writes[entry] = {siteAddress(*sites[entry]), patches[entry], sites[entry]->length,
                     static_cast<const uint8_t*>(trampolines[entry])};
  }
  // Both entries change while the other threads are held once.
  bool trampolinesInUse = false;
  const bool written = writeEntriesHoldingThreads(writes, kShadowEntryCount, &trampolinesInUse);
  uint32_t ignored = 0;
  os::platform.protectPages(spanBegin, spanLength, oldProtection, &ignored);
  if (!written) {
    dropTrampolines(trampolines, trampolinesInUse);
    LogMessage("VirtualProtect failed for shadow caster-build entries; shadow transforms were not installed.");
    return false;
  }

  LogMessage("Installed coherent renderer-only shadow caster-list proxies at build RVAs 0x%llX and 0x%llX.",
             static_cast<unsigned long long>(sites[0]->rva), static_cast<unsigned long long>(sites[1]->rva));
  return true;
}

}  // namespace corvane::patch
