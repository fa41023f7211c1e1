// Slim reader/writer locks: SRWLOCK on Windows, an atomic word natively.
// Zero-initialised storage is an unlocked lock on both, so locks live in static
// storage without constructors.
#pragma once
#include <emmintrin.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace corvane::os {

#if defined(_WIN32)
struct SlimLock {
  SRWLOCK native = SRWLOCK_INIT;
};
inline bool tryLockExclusive(SlimLock& l) { return TryAcquireSRWLockExclusive(&l.native) != 0; }
inline bool tryLockShared(SlimLock& l) { return TryAcquireSRWLockShared(&l.native) != 0; }
inline void waitLockExclusive(SlimLock& l) { AcquireSRWLockExclusive(&l.native); }
inline void waitLockShared(SlimLock& l) { AcquireSRWLockShared(&l.native); }
inline void unlockExclusive(SlimLock& l) { ReleaseSRWLockExclusive(&l.native); }
inline void unlockShared(SlimLock& l) { ReleaseSRWLockShared(&l.native); }
#else
// Natively, the same shape as an SRW lock (platform/posix/posix_locks.cpp),
// and out of line as the system's calls are, so a program can wrap them at
// link time (the threads benchmark times every hold that way).
struct SlimLock {
  std::atomic<uint32_t> word{0};      // free, a writer, or a count of readers
  std::atomic<uint32_t> sleepers{0};  // threads asleep on the word, or about to be
};
bool tryLockExclusive(SlimLock& l);
bool tryLockShared(SlimLock& l);
void waitLockExclusive(SlimLock& l);
void waitLockShared(SlimLock& l);
void unlockExclusive(SlimLock& l);
void unlockShared(SlimLock& l);
#endif

// Every hold in the hook bodies is short, and a thread that waits for a lock
// sleeps in the system (under Wine, a round trip through its server costs tens
// of microseconds): a busy lock is tried again a little while first.
constexpr int kLockSpins = 64;
inline void lockExclusive(SlimLock& l) {
  for (int i = 0; i < kLockSpins; ++i) {
    if (tryLockExclusive(l)) return;
    _mm_pause();
  }
  waitLockExclusive(l);
}
inline void lockShared(SlimLock& l) {
  for (int i = 0; i < kLockSpins; ++i) {
    if (tryLockShared(l)) return;
    _mm_pause();
  }
  waitLockShared(l);
}

// A lock in parts for a table whose entries each belong to one part: holding a
// part guards that part's entries, holding every part (taken in order) guards
// the table whole. Each part has a cache line of its own, so threads at work on
// different parts change different lines. A whole hold takes every part, so
// the parts are few: enough for the renderer threads of a game.
constexpr size_t kShardedLockParts = 32;
struct ShardedLock {
  struct alignas(64) Part {
    SlimLock lock;
  } parts[kShardedLockParts];
};
inline SlimLock& lockPart(ShardedLock& l, uint64_t key) { return l.parts[key % kShardedLockParts].lock; }
inline void lockExclusive(ShardedLock& l) {
  for (ShardedLock::Part& part : l.parts) lockExclusive(part.lock);
}
inline void unlockExclusive(ShardedLock& l) {
  for (size_t i = kShardedLockParts; i-- > 0;) unlockExclusive(l.parts[i].lock);
}

// Scoped holders, for code paths with several returns.
template <class Lock>
struct ExclusiveGuard {
  explicit ExclusiveGuard(Lock& l) : lock(l) { lockExclusive(lock); }
  ~ExclusiveGuard() { unlockExclusive(lock); }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;
  Lock& lock;
};
template <class Lock>
struct SharedGuard {
  explicit SharedGuard(Lock& l) : lock(l) { lockShared(lock); }
  ~SharedGuard() { unlockShared(lock); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;
  Lock& lock;
};

}  // namespace corvane::os
