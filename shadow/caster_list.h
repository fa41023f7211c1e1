// The substitute caster list a shadow proxy hands the host: the host's entries
// copied, with matched casters pointing at corrected transforms, all in the
// calling thread's scratch.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bootstrap/host_interface.h"
#include "math/types.h"

// Longest list that is substituted; longer ones go to the host unchanged.
constexpr uint32_t kMaxCasterEntries = 4096;
constexpr uint32_t kCasterCountMask = 0xFFFFFF;
constexpr size_t kCasterListHeaderSize = 16;

// One per thread, for the duration of one proxy call.
struct ShadowScratch {
  alignas(16) uint8_t entries[kMaxCasterEntries * kCasterEntrySize];
  Matrix4x4 substitutes[kMaxCasterEntries];
  uint8_t substituted[kMaxCasterEntries];
  uint8_t reentry;  // 1 while a proxy call of this thread runs
};

// This thread's scratch, zero when first handed out; null when none can be had.
ShadowScratch* shadowScratchForThisThread();
// Forgets the claimed thread slot, so that the next call claims one anew. Tests only.
void resetShadowScratchSlotForTests();

// Fills `header` (given zeroed) with the substitute list and returns true when at
// least one caster got a corrected transform; false leaves the host's list in use.
bool substituteCasterList(const void* list, uint8_t (&header)[kCasterListHeaderSize], ShadowScratch& scratch);
