// Per-thread shadow scratch: a thread slot of the platform holds each thread's
// block of pages, taken from the platform on the thread's first proxy call and
// kept for the life of the process.
#include <atomic>

#include "platform/platform.h"
#include "shadow/caster_list.h"

namespace {

enum SlotState : uint32_t { kSlotNone, kSlotClaiming, kSlotReady, kSlotFailed };
std::atomic<uint32_t> slotState{kSlotNone};
uint32_t slotIndex = 0;  // written once before slotState becomes kSlotReady

bool scratchSlot(uint32_t* index) {
  uint32_t state = slotState.load(std::memory_order_acquire);
  if (state == kSlotNone) {
    uint32_t expected = kSlotNone;
    if (slotState.compare_exchange_strong(expected, kSlotClaiming, std::memory_order_acq_rel)) {
      const bool ok = platform.allocateThreadSlot(&slotIndex);
      slotState.store(ok ? kSlotReady : kSlotFailed, std::memory_order_release);
    }
    // Another thread is claiming the slot; it takes one system call.
    while ((state = slotState.load(std::memory_order_acquire)) == kSlotClaiming) {
    }
  }
  *index = slotIndex;
  return state == kSlotReady;
}

}  // namespace

ShadowScratch* shadowScratchForThisThread() {
  uint32_t index;
  if (!scratchSlot(&index)) return nullptr;
  if (void* held = platform.threadSlotValue(index)) return static_cast<ShadowScratch*>(held);
  // Fresh pages read as zero.
  void* pages = platform.allocatePages(nullptr, sizeof(ShadowScratch));
  if (pages == nullptr) return nullptr;
  uint32_t previous = 0;
  platform.protectPages(pages, sizeof(ShadowScratch), kPageReadWrite, &previous);
  if (!platform.setThreadSlotValue(index, pages)) {
    platform.releasePages(pages, sizeof(ShadowScratch));
    return nullptr;
  }
  return static_cast<ShadowScratch*>(pages);
}
