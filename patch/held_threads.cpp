// Rewriting function entries that other threads of the host may be running:
// every other thread is held while the bytes change, and a thread caught
// between two of the displaced instructions continues in the trampoline, where
// the same instructions stand at the same offsets.
#include "patch/code_writes.h"
#include "platform/platform.h"

namespace corvane::patch {

namespace {

// More threads than this and the entry is refused rather than half held.
constexpr uint32_t kMaxHeldThreads = 2048;
void* heldThreads[kMaxHeldThreads];
uintptr_t heldAddresses[kMaxHeldThreads];

// Where a thread at `address` continues: inside an entry's displaced bytes
// (after the first), the same offset of its trampoline; elsewhere 0.
uintptr_t trampolineAddress(uintptr_t address, const EntryWrite* entries, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const auto site = reinterpret_cast<uintptr_t>(entries[i].site);
    if (address > site && address < site + entries[i].length)
      return reinterpret_cast<uintptr_t>(entries[i].trampoline) + (address - site);
  }
  return 0;
}

}  // namespace

bool writeEntriesHoldingThreads(const EntryWrite* entries, size_t count, bool* trampolineInUse) {
  *trampolineInUse = false;
  uint32_t opened = 0;
  if (!os::platform.openOtherThreads(heldThreads, kMaxHeldThreads, &opened)) return false;

  uint32_t suspended = 0;
  bool held = true;
  for (; held && suspended < opened; ++suspended) {
    if (!os::platform.suspendThread(heldThreads[suspended])) {
      held = false;
      break;
    }
  }
  // Every position is read before any thread is moved.
  for (uint32_t i = 0; held && i < suspended; ++i)
    held = os::platform.threadInstructionPointer(heldThreads[i], &heldAddresses[i]);
  for (uint32_t i = 0; held && i < suspended; ++i) {
    const uintptr_t target = trampolineAddress(heldAddresses[i], entries, count);
    if (target == 0) continue;
    held = os::platform.setThreadInstructionPointer(heldThreads[i], target);
    *trampolineInUse = *trampolineInUse || held;
  }
  if (held) {
    for (size_t i = 0; i < count; ++i) writeEntryPatch(entries[i].site, entries[i].patch, entries[i].length);
    for (size_t i = 0; i < count; ++i) os::platform.flushCode(entries[i].site, entries[i].length);
  }

  for (uint32_t i = 0; i < suspended; ++i) os::platform.resumeThread(heldThreads[i]);
  for (uint32_t i = 0; i < opened; ++i) os::platform.closeThread(heldThreads[i]);
  return held;
}

}  // namespace corvane::patch
