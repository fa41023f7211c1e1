// The skinned-pose upload hook: the host uploads a blended palette in place of
// its own for the duration of its synchronous upload call.
#pragma once
#include <atomic>
#include <cstdint>

#include "patch/hooks.h"

namespace corvane::skeletal {

// Bits of `paletteFlags` that the forced retry clears.
constexpr uint8_t kForcedRetryFlagMask = 0xF9;

// Set by the first upload that logs its scope's once-only "Applied" line.
extern std::atomic<uint32_t> firstPersonApplied;
extern std::atomic<uint32_t> worldApplied;

}  // namespace corvane::skeletal
