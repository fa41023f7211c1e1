// The skinned-pose upload hook: the host uploads a blended palette in place of
// its own for the duration of its synchronous upload call.
#pragma once
#include <cstdint>

#include "patch/hooks.h"

// Bits of `paletteFlags` that the forced retry clears.
constexpr uint8_t kForcedRetryFlagMask = 0xF9;

// Tests only: lets the once-only "Applied" lines be logged again.
void resetPoseUploadOnceFlagsForTests();
