// The two shadow caster-list builds: each hands the host a substitute list with
// corrected transforms when it has one, and its own list otherwise.
#include <atomic>

#include "patch/hooks.h"
#include "shadow/caster_list.h"

namespace corvane::shadow {

using patch::ShadowBuild0Function;
using patch::ShadowBuild1Function;
using patch::shadowTrampolines;

namespace {

// Runs `callHost` with the list the host is to receive. A nested proxy call on
// the same thread (from inside the host function) passes straight through, so
// the outer call's scratch stays intact while the host reads it.
template <typename CallHost>
uint64_t runProxy(void* list, CallHost callHost) {
  ShadowScratch* scratch = shadowScratchForThisThread();
  if (scratch == nullptr || scratch->reentry) return callHost(list);
  scratch->reentry = 1;
  alignas(16) uint8_t header[kCasterListHeaderSize] = {};
  const bool substituted = substituteCasterList(list, header, *scratch);
  const uint64_t result = callHost(substituted ? static_cast<void*>(header) : list);
  scratch->reentry = 0;
  return result;
}

}  // namespace

}  // namespace corvane::shadow

using namespace corvane::shadow;

uint64_t CORVANE_HOSTCALL shadowCasterProxy0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6) {
  auto host = reinterpret_cast<ShadowBuild0Function>(shadowTrampolines[0].load(std::memory_order_acquire));
  return runProxy(list, [&](void* handed) { return host(a1, a2, handed, a4, a5, a6); });
}

uint64_t CORVANE_HOSTCALL shadowCasterProxy1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                             int32_t a7, uint64_t a8) {
  auto host = reinterpret_cast<ShadowBuild1Function>(shadowTrampolines[1].load(std::memory_order_acquire));
  return runProxy(list, [&](void* handed) { return host(a1, a2, handed, a4, a5, a6, a7, a8); });
}
