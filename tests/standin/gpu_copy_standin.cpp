// The renderer's GPU-parameter copy (RVA 0x3ACD00).
#include "tests/standin/machine_code.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_parts.h"

namespace {

uint64_t CORVANE_HOSTCALL standInGpuCopy(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  const GpuCopyCall call{outSlot, value, f, block};
  standInHost.gpuCopy.record(call);
  if (standInHost.gpuCopyBehaviour != nullptr) return standInHost.gpuCopyBehaviour(call);
  return standInHost.gpuCopy.result.load();
}

using GpuCopyEntry = uint64_t(CORVANE_HOSTCALL*)(void**, uint64_t, float, const uint8_t*);

}  // namespace

void writeGpuCopyStandIn(uint8_t* base) {
  // mov [rsp+8],rbx; movss [rsp+18h],xmm2; push rdi; sub rsp,0C0h
  static const uint8_t kEntry[] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0xF3, 0x0F, 0x11, 0x54, 0x24,
                                   0x18, 0x57, 0x48, 0x81, 0xEC, 0xC0, 0x00, 0x00, 0x00};
  // add rsp,0C0h; pop rdi
  static const uint8_t kUndo[] = {0x48, 0x81, 0xC4, 0xC0, 0x00, 0x00, 0x00, 0x5F};
  uint8_t* at = emitBytes(base + kStandInGpuCopyRva, kEntry);
  at = emitBytes(at, kUndo);
  emitJumpTo(at, reinterpret_cast<const void*>(&standInGpuCopy));
}

uint64_t gameCallsGpuCopy(void** outSlot, uint64_t value, float f, const uint8_t* block) {
  return reinterpret_cast<GpuCopyEntry>(standInHost.base + kStandInGpuCopyRva)(outSlot, value, f, block);
}
