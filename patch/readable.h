// The probe every hook body makes before it reads host memory.
#pragma once
#include <cstddef>
#include <cstdint>

// True only if all `length` bytes at `address` lie in one committed region whose
// protection allows reading (and is not a guard page). Nothing is cached.
bool isReadableRange(const void* address, size_t length);

// The readable region that an earlier probe of the same hook call found. A
// later probe of that call lying inside it takes that answer instead of asking
// again. Lives on the caller's stack for one call only: a region can be freed
// between two calls.
struct ReadableRegionMemo {
  uintptr_t begin = 0;
  uintptr_t end = 0;
};
bool isReadableRange(ReadableRegionMemo& memo, const void* address, size_t length);

// The protection tests alone, for a region already queried.
bool isReadableProtection(uint32_t state, uint32_t protect);
