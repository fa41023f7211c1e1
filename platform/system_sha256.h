// SHA-256 by the operating system's own implementation: bcrypt on Windows,
// OpenSSL's libcrypto elsewhere. The DLL hashes the game's executable with it,
// and corvane-check the file a player names, so both agree by construction.
// Streaming: begin, feed any number of byte ranges, finish once.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::os {

struct SystemSha256;

// A new hash, or null when the system cannot provide one.
SystemSha256* systemSha256Begin();
// False when the system reports a failure; the hash must still be finished.
bool systemSha256Update(SystemSha256* hash, const void* data, size_t length);
// Writes the digest (when `digest` is not null and all went well) and releases
// the hash in every case. False when no digest was written.
bool systemSha256Finish(SystemSha256* hash, uint8_t digest[32]);

}  // namespace corvane::os
