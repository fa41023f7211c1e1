#include "tests/patch/fake_address_space.h"

namespace {

FakeAddressSpace* current = nullptr;

void fakeLimits(SystemLimits* out) { *out = current->limits; }

bool fakeQuery(const void* address, MemoryRegion* out) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  current->queries.push_back(at);
  if (current->failQueryAt != 0 && at == current->failQueryAt) return false;
  uintptr_t freeFrom = 0;
  for (const MemoryRegion& r : current->regions) {
    if (at < r.base) {
      *out = {freeFrom, r.base - freeFrom, kMemFree, kPageNoAccess};
      return true;
    }
    if (at < r.base + r.size) {
      *out = r;
      return true;
    }
    freeFrom = r.base + r.size;
  }
  *out = {freeFrom, 0x800000000000ull - freeFrom, kMemFree, kPageNoAccess};
  return true;
}

void* fakeAllocate(void* address, size_t) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  current->allocationAttempts.push_back(at);
  if (current->refusedAllocations.count(at) != 0) return nullptr;
  return current->allocationResult != nullptr ? current->allocationResult : address;
}

void fakeRelease(void* address, size_t) { current->released.push_back(address); }

}  // namespace

void useFakeAddressSpace(FakeAddressSpace* space) {
  current = space;
  platform.systemLimits = fakeLimits;
  platform.queryRegion = fakeQuery;
  platform.allocatePages = fakeAllocate;
  platform.releasePages = fakeRelease;
}
