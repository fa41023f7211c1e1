// A few x86-64 instruction encodings for writing the stand-in's code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies `bytes` to `at` and returns the address after them.
template <size_t N>
inline uint8_t* emitBytes(uint8_t* at, const uint8_t (&bytes)[N]) {
  std::memcpy(at, bytes, N);
  return at + N;
}

// mov rax, imm64; jmp rax: leaves the stack as it is, so the target runs as if
// it had been called by whoever called the code that jumps.
inline uint8_t* emitJumpTo(uint8_t* at, const void* target) {
  const uint64_t address = reinterpret_cast<uint64_t>(target);
  at[0] = 0x48;
  at[1] = 0xB8;
  std::memcpy(at + 2, &address, 8);
  at[10] = 0xFF;
  at[11] = 0xE0;
  return at + 12;
}
