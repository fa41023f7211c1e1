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

namespace {

// Queries the region holding `address`; true when it is readable, with its end
// (0 when the region runs past the top of the address space).
bool queryReadable(const void* address, uintptr_t* base, uintptr_t* end) {
  MemoryRegion region;
  if (!platform.queryRegion(address, &region)) return false;
  if (!isReadableProtection(region.state, region.protect)) return false;
  *base = region.base;
  *end = region.base + region.size >= region.base ? region.base + region.size : 0;
  return true;
}

}  // namespace

bool isReadableRange(const void* address, size_t length) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
  if (begin == 0 || length == 0 || begin + length < begin) return false;
  uintptr_t base = 0, end = 0;
  return queryReadable(address, &base, &end) && begin + length <= end;
}

bool isReadableRange(ReadableRegionMemo& memo, const void* address, size_t length) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
  if (begin == 0 || length == 0 || begin + length < begin) return false;
  for (int i = 0; i < ReadableRegionMemo::kRegions; ++i) {
    if (begin >= memo.begin[i] && begin + length <= memo.end[i]) return true;
  }
  uintptr_t base = 0, end = 0;
  if (!queryReadable(address, &base, &end)) return false;
  memo.begin[memo.next] = base;
  memo.end[memo.next] = end;
  memo.next = (memo.next + 1) % ReadableRegionMemo::kRegions;
  return begin + length <= end;
}
