// Finding a page for the view-copy relay within reach of a relative call.
#pragma once
#include <cstdint>

namespace corvane::patch {

// The window searched around a call site: 0x70000000 (1.75 GiB) either side,
// well inside the +-2 GiB reach of rel32, clipped to the application range.
constexpr uintptr_t kRelayWindow = 0x70000000;

// Walks the address space upward from the window's low end and commits the
// first allocation-granularity-aligned page that starts a free region's first
// aligned granule and is accepted by the allocator. Null when none is found.
void* allocateRelayNear(uintptr_t site);

}  // namespace corvane::patch
