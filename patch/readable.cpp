#include "patch/readable.h"

#include "platform/platform.h"

bool isReadableProtection(uint32_t state, uint32_t protect) {
  if (state != kMemCommit) return false;
  if (protect & (kPageNoAccess | kPageGuard)) return false;
  switch (protect & 0xFF) {
    case kPageReadOnly:
    case kPageReadWrite:
    case kPageWriteCopy:
    case kPageExecuteRead:
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy:
      return true;
    default:
      return false;
  }
}

bool isReadableRange(const void* address, size_t length) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
  if (begin == 0 || length == 0 || begin + length < begin) return false;
  MemoryRegion region;
  if (!platform.queryRegion(address, &region)) return false;
  if (!isReadableProtection(region.state, region.protect)) return false;
  return begin + length <= region.base + region.size && region.base + region.size >= region.base;
}
