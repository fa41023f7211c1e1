// A small portable SHA-256 (FIPS 180-4), so the checker needs no crypto library
// on any system. Streaming: feed any number of byte ranges, then finish once.
#pragma once
#include <cstddef>
#include <cstdint>

struct Sha256 {
  uint32_t state[8];
  uint64_t totalBytes;
  uint8_t block[64];
  size_t blockFill;
};

void sha256Begin(Sha256& hash);
void sha256Update(Sha256& hash, const void* data, size_t length);
void sha256Finish(Sha256& hash, uint8_t digest[32]);
