// The two shadow caster-list builds (RVAs 0x3CA3B0, six arguments, and
// 0x3CACE0, eight arguments). Their entries only store register arguments to
// their home slots, so nothing needs undoing.
#include "tests/standin/machine_code.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_parts.h"

namespace {

uint64_t CORVANE_HOSTCALL standInShadowBuild0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                              float a6) {
  const ShadowBuildCall call{a1, a2, list, a4, a5, a6, 0, 0};
  standInHost.shadowBuild[0].record(call);
  if (standInHost.shadowBuildBehaviour != nullptr) return standInHost.shadowBuildBehaviour(0, call);
  return standInHost.shadowBuild[0].result.load();
}

uint64_t CORVANE_HOSTCALL standInShadowBuild1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                              int32_t a7, uint64_t a8) {
  const ShadowBuildCall call{a1, a2, list, a4, a5, a6, a7, a8};
  standInHost.shadowBuild[1].record(call);
  if (standInHost.shadowBuildBehaviour != nullptr) return standInHost.shadowBuildBehaviour(1, call);
  return standInHost.shadowBuild[1].result.load();
}

using ShadowBuild0Entry = uint64_t(CORVANE_HOSTCALL*)(uint64_t, uint64_t, void*, uint64_t, uint64_t, float);
using ShadowBuild1Entry = uint64_t(CORVANE_HOSTCALL*)(uint64_t, uint64_t, void*, uint64_t, uint64_t, float, int32_t,
                                                      uint64_t);

}  // namespace

void writeShadowBuildStandIns(uint8_t* base) {
  // mov [rsp+18h],r8; mov [rsp+10h],rdx; mov [rsp+8],rcx
  static const uint8_t kEntry[] = {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54,
                                   0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08};
  emitJumpTo(emitBytes(base + kStandInShadowBuildRva[0], kEntry), reinterpret_cast<const void*>(&standInShadowBuild0));
  emitJumpTo(emitBytes(base + kStandInShadowBuildRva[1], kEntry), reinterpret_cast<const void*>(&standInShadowBuild1));
}

uint64_t gameCallsShadowBuild0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6) {
  return reinterpret_cast<ShadowBuild0Entry>(standInHost.base + kStandInShadowBuildRva[0])(a1, a2, list, a4, a5, a6);
}

uint64_t gameCallsShadowBuild1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6, int32_t a7,
                               uint64_t a8) {
  return reinterpret_cast<ShadowBuild1Entry>(standInHost.base + kStandInShadowBuildRva[1])(a1, a2, list, a4, a5, a6, a7,
                                                                                           a8);
}
