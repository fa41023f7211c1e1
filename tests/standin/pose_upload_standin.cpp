// The skinned-pose upload (RVA 0x2D0C80). Its entry ends with a compare whose
// flags the next instruction (RVA 0x2D0C91) consumes; the stand-in hands those
// flags to its recording function.
#include "tests/standin/machine_code.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_parts.h"

namespace {

uint64_t CORVANE_HOSTCALL standInPoseUpload(uint8_t* record, uint64_t value, uint64_t flags) {
  const PoseUploadCall call{record, value, flags};
  standInHost.poseUpload.record(call);
  if (standInHost.poseUploadBehaviour != nullptr) return standInHost.poseUploadBehaviour(call);
  return standInHost.poseUpload.result.load();
}

using PoseUploadEntry = uint64_t(CORVANE_HOSTCALL*)(uint8_t*, uint64_t);

}  // namespace

void writePoseUploadStandIn(uint8_t* base) {
  // mov [rsp+20h],rsi; push rdi; sub rsp,40h; cmp byte [rcx+1FB1h],0
  static const uint8_t kEntry[] = {0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC,
                                   0x40, 0x80, 0xB9, 0xB1, 0x1F, 0x00, 0x00, 0x00};
  // pushfq; pop r8 (the flags become the third argument); add rsp,40h; pop rdi
  static const uint8_t kFlagsAndUndo[] = {0x9C, 0x41, 0x58, 0x48, 0x83, 0xC4, 0x40, 0x5F};
  uint8_t* at = emitBytes(base + kStandInPoseUploadRva, kEntry);
  at = emitBytes(at, kFlagsAndUndo);
  emitJumpTo(at, reinterpret_cast<const void*>(&standInPoseUpload));
}

uint64_t gameCallsPoseUpload(uint8_t* record, uint64_t value) {
  return reinterpret_cast<PoseUploadEntry>(standInHost.base + kStandInPoseUploadRva)(record, value);
}
