#include "patch/relay_search.h"

#include "platform/platform.h"

namespace corvane::patch {

namespace {

uintptr_t alignUp(uintptr_t value, uintptr_t alignment) {
  const uintptr_t aligned = value + (alignment - 1);
  if (aligned < value) return 0;  // past the top of the address space
  return aligned - aligned % alignment;
}

}  // namespace

void* allocateRelayNear(uintptr_t site) {
  os::SystemLimits limits{};
  os::platform.systemLimits(&limits);
  const uintptr_t granularity = limits.allocationGranularity != 0 ? limits.allocationGranularity : os::kPageSize;

  uintptr_t low = site > kRelayWindow ? site - kRelayWindow : 0;
  if (low < limits.lowestAddress) low = limits.lowestAddress;
  uintptr_t high = site + kRelayWindow;
  if (high < site || high > limits.highestAddress) high = limits.highestAddress;
  if (low >= high) return nullptr;

  uintptr_t current = low;
  for (;;) {
    os::MemoryRegion region{};
    if (!os::platform.queryRegion(reinterpret_cast<const void*>(current), &region)) return nullptr;
    const uintptr_t regionEnd = region.base + region.size;
    if (region.state == os::kMemFree) {
      // A region query may report the whole free range around the address; the
      // search never goes below where it stands.
      const uintptr_t from = region.base > current ? region.base : current;
      const uintptr_t candidate = alignUp(from, granularity);
      if (candidate != 0 && candidate < regionEnd && candidate + os::kPageSize > candidate &&
          candidate + os::kPageSize <= high) {
        void* page = os::platform.allocatePages(reinterpret_cast<void*>(candidate), os::kPageSize);
        if (page != nullptr) return page;
      }
    }
    if (regionEnd <= current || regionEnd >= high) return nullptr;
    current = regionEnd;
  }
}

}  // namespace corvane::patch
