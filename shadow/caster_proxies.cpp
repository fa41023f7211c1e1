#include "patch/hooks.h"

uint64_t CORVANE_HOSTCALL shadowCasterProxy0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                             float a6) {
  auto host = reinterpret_cast<ShadowBuild0Function>(shadowTrampolines[0].load(std::memory_order_acquire));
  return host(a1, a2, list, a4, a5, a6);
}

uint64_t CORVANE_HOSTCALL shadowCasterProxy1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                             float a6, int32_t a7, uint64_t a8) {
  auto host = reinterpret_cast<ShadowBuild1Function>(shadowTrampolines[1].load(std::memory_order_acquire));
  return host(a1, a2, list, a4, a5, a6, a7, a8);
}
