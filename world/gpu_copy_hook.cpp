#include "patch/hooks.h"

uint64_t CORVANE_HOSTCALL GpuCopyHook(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  return gpuCopyTrampoline.load(std::memory_order_acquire)(outSlot, value, f, block);
}
