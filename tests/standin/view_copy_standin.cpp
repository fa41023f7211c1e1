// The view-copy function (RVA 0x64A90) and the host code around its one call.
#include <cstring>

#include "tests/standin/machine_code.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_parts.h"

namespace {

uint64_t CORVANE_HOSTCALL standInViewCopy(void* destination, void* source, uint64_t a3, uint64_t a4) {
  standInHost.viewCopy.record({destination, source, a3, a4});
  if (destination != nullptr && source != nullptr) std::memcpy(destination, source, kStandInViewLength);
  return standInHost.viewCopy.result.load();
}

using ViewCopyCaller = uint64_t(CORVANE_HOSTCALL*)(void*, void*, uint64_t, uint64_t);

}  // namespace

void writeViewCopyStandIn(uint8_t* base) {
  emitJumpTo(base + kStandInViewCopyRva, reinterpret_cast<const void*>(&standInViewCopy));

  // sub rsp,28h; call 0x64A90 (E8 E5 B4 62 FF at the call site); add rsp,28h; ret
  static const uint8_t kCaller[] = {0x48, 0x83, 0xEC, 0x28, 0xE8, 0xE5, 0xB4, 0x62, 0xFF, 0x48, 0x83, 0xC4, 0x28, 0xC3};
  emitBytes(base + kStandInViewCopyCallerRva, kCaller);
}

uint64_t gameCallsViewCopy(void* destination, void* source, uint64_t a3, uint64_t a4) {
  auto caller = reinterpret_cast<ViewCopyCaller>(standInHost.base + kStandInViewCopyCallerRva);
  return caller(destination, source, a3, a4);
}
