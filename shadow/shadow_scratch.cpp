// Per-thread shadow scratch: a thread slot of the platform holds each thread's
// block of pages, taken from the platform on the thread's first proxy call and
// kept for the life of the process.
#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "shadow/caster_list.h"

namespace corvane::shadow {

using os::platform;

std::atomic<uint32_t> slotState{kSlotNone};

namespace {

uint32_t slotIndex = 0;  // written once before slotState becomes kSlotReady

bool scratchSlot(uint32_t* index) {
  if (slotState.load(std::memory_order_acquire) == kSlotNone) {
    uint32_t expected = kSlotNone;
    if (slotState.compare_exchange_strong(expected, kSlotClaiming, std::memory_order_acq_rel)) {
      const bool ok = platform.allocateThreadSlot(&slotIndex);
      slotState.store(ok ? kSlotReady : kSlotFailed, std::memory_order_release);
    }
  }
  // Every thread that finds the slot being claimed waits for the claim (one
  // system call) before it reads the index.
  uint32_t state;
  while ((state = slotState.load(std::memory_order_acquire)) == kSlotClaiming) {}
  if (state != kSlotReady) return false;
  *index = slotIndex;
  return true;
}

// Held in a thread's slot when its scratch could not be had: the thread passes
// its lists through from then on without asking for pages again.
void* const kNoScratch = reinterpret_cast<void*>(uintptr_t{1});

}  // namespace

ShadowScratch* shadowScratchForThisThread() {
  uint32_t index;
  if (!scratchSlot(&index)) return nullptr;
  if (void* held = platform.threadSlotValue(index)) {
    return held == kNoScratch ? nullptr : static_cast<ShadowScratch*>(held);
  }
  // Fresh pages read as zero.
  void* pages = platform.allocatePages(nullptr, sizeof(ShadowScratch));
  if (pages == nullptr) {
    platform.setThreadSlotValue(index, kNoScratch);
    return nullptr;
  }
  uint32_t previous = 0;
  platform.protectPages(pages, sizeof(ShadowScratch), os::kPageReadWrite, &previous);
  if (!platform.setThreadSlotValue(index, pages)) {
    platform.releasePages(pages, sizeof(ShadowScratch));
    return nullptr;
  }
  return static_cast<ShadowScratch*>(pages);
}

}  // namespace corvane::shadow
