// The five places of the host's machine code that Corvane redirects, with the
// bytes each must hold before it is touched and the stub that serves it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::patch {

enum class StubKind : uint8_t {
  relay,       // the call site: the host's call instruction is pointed at a Relay
  trampoline,  // a function entry: a jump to the hook body, the host reached through a Trampoline
};

struct PatchSite {
  uint64_t rva;
  const uint8_t* expected;  // `length` bytes
  uint32_t length;
  StubKind stub;
  const void* hookBody;
};

enum PatchSiteIndex : size_t {
  kViewCopySite = 0,
  kGpuCopySite = 1,
  kPoseUploadSite = 2,
  kShadowBuild0Site = 3,
  kShadowBuild1Site = 4,
  kPatchSiteCount = 5,
};

extern const PatchSite patchSites[kPatchSiteCount];

// Longest displaced prologue (the GPU-copy entry).
constexpr size_t kMaxDisplacedLength = 19;

}  // namespace corvane::patch
