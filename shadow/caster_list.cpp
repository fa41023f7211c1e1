#include "shadow/caster_list.h"

#include <cstring>

#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "math/transform.h"
#include "patch/readable.h"
#include "platform/locks.h"
#include "shadow/publication.h"
#include "world/content_key.h"

namespace corvane::shadow {

using bootstrap::kCasterListCountOffset;
using bootstrap::kCasterTransformOffset;
using diagnostics::bump;
using patch::isReadableRange;

namespace {

// Lookups are made this many casters at a time under one shared hold, so that
// a publisher never waits for more than a short run.
constexpr uint32_t kLookupRun = 64;

uint64_t casterKey(ShadowScratch& scratch, const void* transform, const Matrix4x4& current) {
  const uint64_t a = reinterpret_cast<uintptr_t>(transform);
  CasterKeyMemo& memo = scratch.keys[((a >> 4) ^ (a >> 16)) % kCasterKeyMemoSlots];
  if (memo.transform == transform && std::memcmp(&memo.bytes, &current, sizeof current) == 0) return memo.key;
  memo.transform = transform;
  memo.bytes = current;
  memo.key = world::contentKey(current);
  return memo.key;
}

}  // namespace

bool substituteCasterList(const void* list, uint8_t (&header)[kCasterListHeaderSize], ShadowScratch& scratch) {
  diagnostics::ShadowCounters& c = diagnostics::counters.shadow;
  bump(c.proxyCalls);
  // The header itself is host memory too: probe it before reading the count.
  patch::ReadableRegionMemo probes;
  if (!isReadableRange(probes, list, kCasterListHeaderSize)) return false;
  const auto* listBytes = static_cast<const uint8_t*>(list);
  const uint8_t* entries;
  uint64_t countWord;  // the count in its low 24 bits, then host data
  std::memcpy(&entries, listBytes, sizeof entries);
  std::memcpy(&countWord, listBytes + kCasterListCountOffset, sizeof countWord);
  const uint32_t count = static_cast<uint32_t>(countWord) & kCasterCountMask;
  if (count == 0) return false;
  if (count > kMaxCasterEntries) {
    bump(c.proxyCapacityMiss);
    return false;
  }
  if (!isReadableRange(probes, entries, static_cast<size_t>(count) * kCasterEntrySize)) return false;

  // Casters go in runs: each one probed, read and keyed first, then the run's
  // lookups under one shared hold (no probe, which may be a system call, inside it).
  bool anySubstituted = false;
  uint32_t runIndex[kLookupRun];
  const uint8_t* runTransform[kLookupRun];
  uint64_t runKey[kLookupRun];
  Matrix4x4 runCurrent[kLookupRun];
  for (uint32_t first = 0; first < count;) {
    uint32_t run = 0;
    uint32_t i = first;
    for (; i < count && run < kLookupRun; ++i) {
      scratch.substituted[i] = 0;
      const uint8_t* transform;
      std::memcpy(&transform, entries + i * kCasterEntrySize + kCasterTransformOffset, sizeof transform);
      if (transform == nullptr) continue;
      bump(c.calls);
      if (!isReadableRange(probes, transform, sizeof(Matrix4x4))) {
        bump(c.unreadable);
        continue;
      }
      Matrix4x4& current = runCurrent[run];
      std::memcpy(&current, transform, sizeof current);
      if (!math::isFiniteMatrix4x4(current)) continue;
      runIndex[run] = i;
      runTransform[run] = transform;
      runKey[run] = casterKey(scratch, transform, current);
      ++run;
    }
    first = i;
    if (run == 0) continue;
    const uint64_t serial = camera::latestPresentationSerial.load(std::memory_order_acquire);
    if (serial == 0) continue;
    Matrix4x4 corrections[kLookupRun];
    bool found[kLookupRun];
    {
      os::SharedGuard lookups(shadowPublicationLock);
      for (uint32_t r = 0; r < run; ++r) {
        found[r] = findShadowCorrectionHeld(runTransform[r], runKey[r], serial, &corrections[r]);
      }
    }
    for (uint32_t r = 0; r < run; ++r) {
      if (!found[r]) continue;
      const uint32_t index = runIndex[r];
      math::multiplyMatrix4x4(corrections[r], runCurrent[r], &scratch.substitutes[index]);
      if (!math::isFiniteMatrix4x4(scratch.substitutes[index])) continue;
      bump(c.adjusted);
      scratch.substituted[index] = 1;
      anySubstituted = true;
    }
  }
  if (!anySubstituted) return false;

  std::memcpy(scratch.entries, entries, static_cast<size_t>(count) * kCasterEntrySize);
  for (uint32_t i = 0; i < count; ++i) {
    if (!scratch.substituted[i]) continue;
    const Matrix4x4* substitute = &scratch.substitutes[i];
    std::memcpy(scratch.entries + i * kCasterEntrySize + kCasterTransformOffset, &substitute, sizeof substitute);
  }
  const uint8_t* substituteEntries = scratch.entries;
  std::memcpy(header, &substituteEntries, sizeof substituteEntries);
  std::memcpy(header + kCasterListCountOffset, &countWord, sizeof countWord);
  bump(c.proxyLists);
  return true;
}

}  // namespace corvane::shadow
