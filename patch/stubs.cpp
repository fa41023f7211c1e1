#include "patch/stubs.h"

#include <cstring>

namespace corvane::patch {

namespace {

void putLittleEndian64(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void putAbsoluteJump(uint8_t* out, uint64_t target) {
  static const uint8_t kJumpThroughNext[6] = {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(out, kJumpThroughNext, sizeof kJumpThroughNext);
  putLittleEndian64(out + sizeof kJumpThroughNext, target);
}

constexpr int64_t kLowestCallDistance = -0x7FFFFFFBll;
constexpr int64_t kHighestCallDistance = 0x80000004ll;
constexpr uint8_t kNop = 0x90;

}  // namespace

void buildRelay(uint8_t (&out)[kRelayLength], uint64_t hookBody) {
  out[0] = 0x48;
  out[1] = 0xB8;
  putLittleEndian64(out + 2, hookBody);
  out[10] = 0xFF;
  out[11] = 0xE0;
}

void buildTrampoline(uint8_t* out, const uint8_t* displaced, size_t displacedLength, uint64_t resumeAddress) {
  std::memcpy(out, displaced, displacedLength);
  putAbsoluteJump(out + displacedLength, resumeAddress);
}

void buildEntryPatch(uint8_t* out, size_t length, uint64_t hookBody) {
  putAbsoluteJump(out, hookBody);
  for (size_t i = kAbsoluteJumpLength; i < length; ++i) out[i] = kNop;
}

bool relayWithinCallRange(uintptr_t site, uintptr_t relay) {
  const int64_t distance = static_cast<int64_t>(relay - site);
  return distance >= kLowestCallDistance && distance <= kHighestCallDistance;
}

void buildCallPatch(uint8_t (&out)[kCallLength], uintptr_t site, uintptr_t relay) {
  const uint32_t displacement = static_cast<uint32_t>(relay - (site + kCallLength));
  out[0] = 0xE8;
  for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(displacement >> (8 * i));
}

}  // namespace corvane::patch
