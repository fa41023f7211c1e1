// The system's SHA-256 on POSIX systems: OpenSSL's libcrypto.
#include <openssl/evp.h>

#include "platform/system_sha256.h"

namespace corvane::os {

SystemSha256* systemSha256Begin() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) {
    return reinterpret_cast<SystemSha256*>(context);
  }
  EVP_MD_CTX_free(context);
  return nullptr;
}

bool systemSha256Update(SystemSha256* hash, const void* data, size_t length) {
  return EVP_DigestUpdate(reinterpret_cast<EVP_MD_CTX*>(hash), data, length) == 1;
}

bool systemSha256Finish(SystemSha256* hash, uint8_t digest[32]) {
  EVP_MD_CTX* context = reinterpret_cast<EVP_MD_CTX*>(hash);
  bool written = false;
  if (digest != nullptr) {
    unsigned int length = 0;
    written = EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 32;
  }
  EVP_MD_CTX_free(context);
  return written;
}

}  // namespace corvane::os
