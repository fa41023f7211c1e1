#include "patch/code_writes.h"

#include <emmintrin.h>

#include <cstring>

namespace corvane::patch {

void writeCallPatch(uint8_t* site, const uint8_t (&patch)[5]) {
  uint64_t word;
  std::memcpy(&word, site, sizeof word);
  uint8_t bytes[8];
  std::memcpy(bytes, &word, sizeof bytes);
  std::memcpy(bytes, patch, sizeof patch);
  std::memcpy(&word, bytes, sizeof word);
  // One mov to memory. x86-64 makes an 8-byte store that stays inside one cache
  // line a single indivisible write, aligned or not.
  __asm__ volatile("movq %1, (%0)" : : "r"(site), "r"(word) : "memory");
}

void writeEntryPatch(uint8_t* site, const uint8_t* patch, size_t length) {
  constexpr size_t kBlock = 16;
  alignas(16) uint8_t block[kBlock];
  std::memcpy(block, site, kBlock);
  std::memcpy(block, patch, length < kBlock ? length : kBlock);
  const __m128i value = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
  // One aligned 16-byte store (movdqa): the jump and its address appear together.
  __asm__ volatile("movdqa %1, (%0)" : : "r"(site), "x"(value) : "memory");
  for (size_t i = kBlock; i < length; ++i) site[i] = patch[i];
}

}  // namespace corvane::patch
