// Slim reader/writer locks: SRWLOCK on Windows, a pthread rwlock natively.
// Zero-initialised storage is an unlocked lock on both, so locks live in static
// storage without constructors.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
struct SlimLock {
  SRWLOCK native = SRWLOCK_INIT;
};
inline void lockExclusive(SlimLock& l) { AcquireSRWLockExclusive(&l.native); }
inline void unlockExclusive(SlimLock& l) { ReleaseSRWLockExclusive(&l.native); }
inline void lockShared(SlimLock& l) { AcquireSRWLockShared(&l.native); }
inline void unlockShared(SlimLock& l) { ReleaseSRWLockShared(&l.native); }
#else
#include <pthread.h>
struct SlimLock {
  pthread_rwlock_t native = PTHREAD_RWLOCK_INITIALIZER;
};
inline void lockExclusive(SlimLock& l) { pthread_rwlock_wrlock(&l.native); }
inline void unlockExclusive(SlimLock& l) { pthread_rwlock_unlock(&l.native); }
inline void lockShared(SlimLock& l) { pthread_rwlock_rdlock(&l.native); }
inline void unlockShared(SlimLock& l) { pthread_rwlock_unlock(&l.native); }
#endif

// Scoped holders, for code paths with several returns.
struct ExclusiveGuard {
  explicit ExclusiveGuard(SlimLock& l) : lock(l) { lockExclusive(lock); }
  ~ExclusiveGuard() { unlockExclusive(lock); }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;
  SlimLock& lock;
};
struct SharedGuard {
  explicit SharedGuard(SlimLock& l) : lock(l) { lockShared(lock); }
  ~SharedGuard() { unlockShared(lock); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;
  SlimLock& lock;
};
