#include "patch/hooks.h"

uint64_t CORVANE_HOSTCALL ViewCopyHook(void* destination, void* source, uint64_t a3, uint64_t a4) {
  return hostViewCopy.load(std::memory_order_acquire)(destination, source, a3, a4);
}
