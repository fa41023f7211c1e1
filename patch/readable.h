// The probe every hook body makes before it reads host memory.
#pragma once
#include <cstddef>
#include <cstdint>

// True only if all `length` bytes at `address` lie in one committed region whose
// protection allows reading (and is not a guard page). Nothing is cached.
bool isReadableRange(const void* address, size_t length);

// The protection tests alone, for a region already queried.
bool isReadableProtection(uint32_t state, uint32_t protect);
