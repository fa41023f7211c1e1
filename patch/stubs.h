// Byte images of the executable stubs and of the patches written into the host.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::patch {

// Relay: mov rax, imm64 (the hook body); jmp rax. rax is free at a call's
// target: it carries no argument and is undefined on entry.
constexpr size_t kRelayLength = 12;
void buildRelay(uint8_t (&out)[kRelayLength], uint64_t hookBody);

// Trampoline: the displaced host instructions, then jmp [rip+0] and the
// absolute address of the first host instruction after them.
constexpr size_t kAbsoluteJumpLength = 14;  // FF 25 00000000 + 8-byte address
constexpr size_t trampolineLength(size_t displacedLength) { return displacedLength + kAbsoluteJumpLength; }
// Writes trampolineLength(displacedLength) bytes to `out`.
void buildTrampoline(uint8_t* out, const uint8_t* displaced, size_t displacedLength, uint64_t resumeAddress);

// The patch at a function entry: jmp [rip+0], the hook body's address, then
// no-operations up to `length` (at least kAbsoluteJumpLength).
void buildEntryPatch(uint8_t* out, size_t length, uint64_t hookBody);

// The call-site patch: E8 and the displacement relay - (site + 5).
constexpr size_t kCallLength = 5;
// True when a call at `site` can reach `relay`: the displacement d = relay - site
// lies in [-0x7FFFFFFB, 0x80000004], so d - 5 fits a signed 32-bit field.
bool relayWithinCallRange(uintptr_t site, uintptr_t relay);
// Only for a relay within call range.
void buildCallPatch(uint8_t (&out)[kCallLength], uintptr_t site, uintptr_t relay);

}  // namespace corvane::patch
