// The system's SHA-256 on Windows: bcrypt (CNG). Memory comes from the process
// heap, not from the C runtime.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <bcrypt.h>

#include "platform/system_sha256.h"

namespace corvane::os {

struct SystemSha256 {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
  uint8_t* object;  // bcrypt's working memory for `hash`
};

SystemSha256* systemSha256Begin() {
  auto* state = static_cast<SystemSha256*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SystemSha256)));
  if (state == nullptr) return nullptr;
  DWORD objectLength = 0, digestLength = 0, got = 0;
  do {
    if (BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
      state->algorithm = nullptr;
      break;
    }
    if (BCryptGetProperty(state->algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength), 4, &got, 0) <
        0)
      break;
    if (BCryptGetProperty(state->algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength), 4, &got, 0) <
            0 ||
        digestLength != 32)
      break;
    state->object = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, objectLength));
    if (state->object == nullptr) break;
    if (BCryptCreateHash(state->algorithm, &state->hash, state->object, objectLength, nullptr, 0, 0) < 0) {
      state->hash = nullptr;
      break;
    }
    return state;
  } while (false);
  systemSha256Finish(state, nullptr);
  return nullptr;
}

bool systemSha256Update(SystemSha256* state, const void* data, size_t length) {
  // bcrypt takes at most 4 GiB less one byte per call.
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ULONG piece = length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(length);
    if (BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0) < 0) return false;
    bytes += piece;
    length -= piece;
  }
  return true;
}

bool systemSha256Finish(SystemSha256* state, uint8_t digest[32]) {
  bool written = false;
  if (digest != nullptr && state->hash != nullptr) written = BCryptFinishHash(state->hash, digest, 32, 0) >= 0;
  if (state->hash != nullptr) BCryptDestroyHash(state->hash);
  if (state->algorithm != nullptr) BCryptCloseAlgorithmProvider(state->algorithm, 0);
  if (state->object != nullptr) HeapFree(GetProcessHeap(), 0, state->object);
  HeapFree(GetProcessHeap(), 0, state);
  return written;
}

}  // namespace corvane::os
