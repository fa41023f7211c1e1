// The one logging operation: the debugger output and one line of corvane.log
// beside the library. Safe from any thread.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvane::bootstrap {

constexpr size_t kLogMessageCapacity = 1024;  // 1023 characters and the terminator
constexpr size_t kPathCapacity = 260;

void LogMessage(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// The full path of `fileName` in the library's own directory. False when the
// library path is unknown or the result would not fit in kPathCapacity.
bool pathBesideLibrary(const wchar_t* fileName, wchar_t (&out)[kPathCapacity]);

// True for the one caller that turns `flag` from 0 to 1: the line a flag guards
// is written once per process however many threads reach it.
inline bool claimOnce(std::atomic<uint32_t>& flag) {
  uint32_t expected = 0;
  return flag.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}
}  // namespace corvane::bootstrap
