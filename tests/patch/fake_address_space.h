// A chosen address-space map behind the platform's region query, system
// limits and page allocation.
#pragma once
#include <cstdint>
#include <set>
#include <vector>

#include "platform/platform.h"

using namespace corvane::os;

struct FakeAddressSpace {
  SystemLimits limits{0x10000, 0x7FFFFFFEFFFF, 0x10000};
  // Regions in address order; addresses between them read as free.
  std::vector<MemoryRegion> regions;
  std::set<uintptr_t> refusedAllocations;
  std::vector<uintptr_t> allocationAttempts;
  std::vector<uintptr_t> queries;
  uintptr_t failQueryAt = 0;  // a query of this address fails (0: none)
  // When set, every allocation returns this address instead of the one asked for.
  void* allocationResult = nullptr;
  std::vector<void*> released;
};

// Installs the fakes for `space` until resetPlatform().
void useFakeAddressSpace(FakeAddressSpace* space);
