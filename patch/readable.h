// The probe every hook body makes before it reads host memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::patch {

// True only if `address` is not null, the `length` (> 0) bytes from it do not
// wrap the address space, and all of them lie in one committed region whose
// protection allows reading (and is not a guard page). Nothing is cached; a
// range inside the calling thread's live stack (from its stack pointer up) is
// known readable without a query.
bool isReadableRange(const void* address, size_t length);

// The readable regions that earlier probes of the same hook call found (the
// latest kRegions, newest searched first: a caster list's transforms lie in a
// few heap regions, often one after another). A later probe of that call lying
// inside one of them takes that answer instead of asking again. Lives on the
// caller's stack for one call only: a region can be freed between two calls.
struct ReadableRegionMemo {
  static constexpr int kRegions = 16;
  uintptr_t begin[kRegions];  // the first `count` entries are valid
  uintptr_t end[kRegions];
  int count = 0;
  int next = 0;  // where the next region is kept
};
bool isReadableRange(ReadableRegionMemo& memo, const void* address, size_t length);

// The protection tests alone, for a region already queried.
bool isReadableProtection(uint32_t state, uint32_t protect);

}  // namespace corvane::patch
