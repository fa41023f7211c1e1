#include "patch/readable.h"

#include "platform/platform.h"

namespace corvane::patch {

bool isReadableProtection(uint32_t state, uint32_t protect) {
  if (state != os::kMemCommit) return false;
  if (protect & (os::kPageNoAccess | os::kPageGuard)) return false;
  switch (protect & 0xFF) {
    case os::kPageReadOnly:
    case os::kPageReadWrite:
    case os::kPageWriteCopy:
    case os::kPageExecuteRead:
    case os::kPageExecuteReadWrite:
    case os::kPageExecuteWriteCopy: return true;
    default: return false;
  }
}

namespace {

// Queries the region holding `address`; true when it is readable, with its end
// (0 when the region runs past the top of the address space).
bool queryReadable(const void* address, uintptr_t* base, uintptr_t* end) {
  os::MemoryRegion region;
  if (!os::platform.queryRegion(address, &region)) return false;
  if (!isReadableProtection(region.state, region.protect)) return false;
  *base = region.base;
  *end = region.base + region.size >= region.base ? region.base + region.size : 0;
  return true;
}

// The calling thread's live stack, its callers' frames among them, is readable
// (a host often passes a block on its stack): a range inside it needs no query.
bool insideOwnStack(uintptr_t begin, size_t length) {
  uintptr_t low = 0, high = 0;
  return os::platform.currentStack(&low, &high) && begin >= low && begin + length <= high;
}

}  // namespace

bool isReadableRange(const void* address, size_t length) {
  ReadableRegionMemo fresh;
  return isReadableRange(fresh, address, length);
}

bool isReadableRange(ReadableRegionMemo& memo, const void* address, size_t length) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
  if (begin == 0 || length == 0 || begin + length < begin) return false;
  constexpr int kRegions = ReadableRegionMemo::kRegions;
  for (int i = 1; i <= memo.count; ++i) {
    const int k = (memo.next - i + kRegions) % kRegions;
    if (begin >= memo.begin[k] && begin + length <= memo.end[k]) return true;
  }
  if (insideOwnStack(begin, length)) return true;
  uintptr_t base = 0, end = 0;
  if (!queryReadable(address, &base, &end)) return false;
  memo.begin[memo.next] = base;
  memo.end[memo.next] = end;
  memo.next = (memo.next + 1) % kRegions;
  if (memo.count < kRegions) ++memo.count;
  return begin + length <= end;
}

}  // namespace corvane::patch
