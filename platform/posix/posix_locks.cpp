// The native slim lock, shaped as an SRW lock is: one word that is free, held
// by one writer, or held by a count of readers, so taking and releasing a free
// lock is one atomic instruction each. A thread that must wait sleeps on the
// word; a release wakes the sleepers only when some are counted.
#include "platform/locks.h"

namespace corvane::os {

namespace {

constexpr uint32_t kWriter = 0x80000000u;

// The sleeper is counted before the word is read again, and a release changes
// the word before it reads the count: either the release sees the sleeper and
// wakes it, or the sleeper sees the released word and does not sleep. A word
// with none of the bits in `refusing` set is tried again at once.
void sleepUntilTaken(SlimLock& l, bool (*tryLock)(SlimLock&), uint32_t refusing) {
  l.sleepers.fetch_add(1, std::memory_order_seq_cst);
  while (!tryLock(l)) {
    const uint32_t seen = l.word.load(std::memory_order_seq_cst);
    if ((seen & refusing) != 0) l.word.wait(seen, std::memory_order_seq_cst);
  }
  l.sleepers.fetch_sub(1, std::memory_order_relaxed);
}

void wakeSleepers(SlimLock& l) {
  if (l.sleepers.load(std::memory_order_seq_cst) != 0) l.word.notify_all();
}

}  // namespace

bool tryLockExclusive(SlimLock& l) {
  uint32_t expected = 0;
  return l.word.compare_exchange_strong(expected, kWriter, std::memory_order_acquire, std::memory_order_relaxed);
}

bool tryLockShared(SlimLock& l) {
  uint32_t seen = l.word.load(std::memory_order_relaxed);
  while ((seen & kWriter) == 0) {
    if (l.word.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

void waitLockExclusive(SlimLock& l) { sleepUntilTaken(l, tryLockExclusive, ~uint32_t{0}); }
void waitLockShared(SlimLock& l) { sleepUntilTaken(l, tryLockShared, kWriter); }

void unlockExclusive(SlimLock& l) {
  l.word.exchange(0, std::memory_order_seq_cst);
  wakeSleepers(l);
}

void unlockShared(SlimLock& l) {
  if (l.word.fetch_sub(1, std::memory_order_seq_cst) == 1) wakeSleepers(l);
}

}  // namespace corvane::os
