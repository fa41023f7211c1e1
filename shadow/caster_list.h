// The substitute caster list a shadow proxy hands the host: the host's entries
// copied, with matched casters pointing at corrected transforms, all in the
// calling thread's scratch.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bootstrap/host_interface.h"
#include "math/types.h"

namespace corvane::shadow {

using bootstrap::kCasterEntrySize;

// Longest list that is substituted; longer ones go to the host unchanged.
constexpr uint32_t kMaxCasterEntries = 4096;
constexpr uint32_t kCasterCountMask = 0xFFFFFF;
constexpr size_t kCasterListHeaderSize = 16;

// A caster transform's content key as last worked out by this thread: the same
// address holding the same bytes has the same key. Empty while `transform` is null.
struct CasterKeyMemo {
  const void* transform;
  uint64_t key;
  math::Matrix4x4 bytes;
};
constexpr uint32_t kCasterKeyMemoSlots = 4096;

// One per thread: the substitute list for the duration of one proxy call, and
// the content keys of the casters it has seen.
struct ShadowScratch {
  alignas(16) uint8_t entries[kMaxCasterEntries * kCasterEntrySize];
  math::Matrix4x4 substitutes[kMaxCasterEntries];
  uint8_t substituted[kMaxCasterEntries];
  uint8_t reentry;  // 1 while a proxy call of this thread runs
  CasterKeyMemo keys[kCasterKeyMemoSlots];
};

// This thread's scratch, zero when first handed out; null when none can be had.
ShadowScratch* shadowScratchForThisThread();
// How far the claim of the platform's thread slot that holds each thread's
// scratch has come; the first proxy call claims it.
enum SlotState : uint32_t { kSlotNone, kSlotClaiming, kSlotReady, kSlotFailed };
extern std::atomic<uint32_t> slotState;

// Fills `header` (given zeroed) with the substitute list and returns true when at
// least one caster got a corrected transform; false leaves the host's list in use.
bool substituteCasterList(const void* list, uint8_t (&header)[kCasterListHeaderSize], ShadowScratch& scratch);

}  // namespace corvane::shadow
