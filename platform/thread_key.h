// A number that tells the calling thread from every other running thread,
// read without a call into the system: the address of the thread's own
// environment block on Windows, of its thread control block natively.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::os {

#if defined(_WIN32)
// The block's own address is at gs:0x30 on x64.
inline uintptr_t currentThreadKey() {
  uintptr_t block;
  __asm__("movq %%gs:0x30, %0" : "=r"(block));
  return block;
}
#else
// The thread control block, whose first word is its own address (what
// pthread_self returns on x86-64 Linux).
inline uintptr_t currentThreadKey() {
  uintptr_t block;
  __asm__("movq %%fs:0, %0" : "=r"(block));
  return block;
}
#endif

// One of `parts` (a power of two, at most 64) for the thread whose key is
// `key`, the same on every call; thread keys are page-aligned addresses, so
// the page number is mixed.
inline size_t threadPartOf(uintptr_t key, size_t parts) {
  return static_cast<size_t>(((key >> 12) * 0x9E3779B97F4A7C15ull) >> 58) & (parts - 1);
}

}  // namespace corvane::os
